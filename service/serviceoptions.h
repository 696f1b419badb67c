#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/commandline.h"
#include "core/monitoroptions.h"
#include "core/result.h"

namespace lw::service {

// Where the web board listens.
struct HttpEndpoint {
    QHostAddress address;
    quint16 port = 0;  // 0: any free port, told on standard error

    bool loopback() const { return address.isLoopback(); }
};

// Everything the service is told, from its command line and its --config
// file: the monitor options (the version always set once read), then its
// own. A new option is a field here and one row in serviceoptions.cpp.
struct ServiceOptions : MonitorOptions {
    std::optional<int> comNumber;  // --port N, mapped as the board maps COM numbers
    std::string device;            // --device PATH
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
    // Home Assistant discovery under this prefix; empty: none.
    std::string haDiscovery;
    bool haRemove = false;  // remove this site's discovery configs and exit
    // The web listener: /metrics, and the board unless noBoard.
    bool metrics = false;
    bool noBoard = false;
};

inline constexpr std::string_view kServiceName = "linewarden-monitor";
// Generated from the option table.
const std::string& serviceUsage();

// Reads the command line (without the program name) over the --config file
// it names, if any: the command line wins. Checks that the options hang
// together (a port or a device, a token off loopback). Standard --help and
// --version are the caller's.
Result<ServiceOptions> readServiceOptions(const std::vector<std::string>& args);

// ADDR:PORT, [IPv6]:PORT or localhost:PORT.
std::optional<HttpEndpoint> parseEndpoint(std::string_view text);

// HOST:PORT, read as every program reads it.
using cli::HostPort;
using cli::splitHostPort;

}  // namespace lw::service
