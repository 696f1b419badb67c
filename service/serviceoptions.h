#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace lw::service {

// Where the web board listens.
struct HttpEndpoint {
    QHostAddress address;
    quint16 port = 0;  // 0: any free port, told on standard error

    bool loopback() const { return address.isLoopback(); }
};

// Everything the service is told, from its command line and its --config
// file. A new option is a field here and one row in serviceoptions.cpp.
struct ServiceOptions {
    std::optional<int> port;  // --port N, a COM number mapped as the board maps it
    std::string device;       // --device PATH
    std::string softwareVersion;
    std::string logPath;
    bool raw = false;
    bool noise = false;
    bool activity = false;
    std::string namesPath;  // read only
    std::optional<HttpEndpoint> http;
    std::string httpTokenFile;
    std::string httpsCert;  // HTTPS on the --http listener when both are set
    std::string httpsKey;
    std::string configPath;
    // MQTT publishing, on when mqttHost is set.
    std::string mqttHost;
    int mqttPort = 0;
    std::string mqttPrefix;       // empty: "linewarden"
    std::string site;             // empty: the host name
    std::string mqttCredentials;  // a file: user, then password
    std::string mqttCafile;       // TLS when set
};

inline constexpr std::string_view kServiceName = "linewarden-monitor";
extern const char* const kServiceUsage;

// Reads the command line (without the program name) over the --config file
// it names, if any: the command line wins. Checks that the options hang
// together (a port or a device, a token off loopback). Standard --help and
// --version are the caller's.
Result<ServiceOptions> readServiceOptions(const std::vector<std::string>& args);

// ADDR:PORT, [IPv6]:PORT or localhost:PORT.
std::optional<HttpEndpoint> parseEndpoint(std::string_view text);

// HOST:PORT or [IPv6]:PORT, the host as written, the port 0 to 65535.
struct HostPort {
    std::string host;
    int port = 0;
};
std::optional<HostPort> splitHostPort(std::string_view text);

}  // namespace lw::service
