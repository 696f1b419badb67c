#include "service/serviceoptions.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>
#include <algorithm>
#include <functional>

#include "core/busprotocol.h"
#include "core/textutil.h"
#include "service/filechecks.h"
#include "service/mqtt/topics.h"

namespace lw::service {

const char* const kServiceUsage =
    "usage: linewarden-monitor (--port N | --device PATH) [--software-version TEXT]\n"
    "                          [--log FILE] [--raw] [--noise] [--activity] [--names FILE]\n"
    "                          [--http ADDR:PORT] [--http-token FILE]\n"
    "                          [--https-cert FILE --https-key FILE] [--new-token FILE]\n"
    "                          [--mqtt HOST:PORT] [--mqtt-prefix PREFIX] [--site NAME]\n"
    "                          [--mqtt-credentials FILE] [--mqtt-cafile FILE]\n"
    "                          [--config FILE]\n"
    "\n"
    "Monitors a KX-40 bus without a display, read-only, and keeps its activity log;\n"
    "with --http it serves a live board to web browsers.\n"
    "  --port N            COM port number, mapped like the status board maps it\n"
    "  --device PATH       a serial device or pseudo-terminal\n"
    "  --software-version TEXT  the bus equipment's version (default HUBQV-2); it sets\n"
    "                      the speed (4800 for HUBQV-2 and KX40QV-2, else 1200)\n"
    "  --log FILE          appends the activity records to FILE\n"
    "  --raw, --noise, --activity  log raw blocks, noise, unit activity and panic stops\n"
    "  --names FILE        reads the unit names file (never writes it)\n"
    "  --http ADDR:PORT    serves the web board there (e.g. 127.0.0.1:8480; port 0: any)\n"
    "  --http-token FILE   a bearer token that every web request must carry; required\n"
    "                      for an address other than loopback\n"
    "  --https-cert FILE, --https-key FILE  serve the web board over HTTPS only, with\n"
    "                      this PEM certificate (chain) and key\n"
    "  --new-token FILE    writes a new random token to FILE (mode 0600), prints the\n"
    "                      address to open, and exits\n"
    "  --mqtt HOST:PORT    publishes the board and the records to that MQTT broker\n"
    "  --mqtt-prefix PREFIX  the first topic level(s) (default linewarden)\n"
    "  --site NAME         this booth's name: web page title, MQTT topic level\n"
    "                      (default the host name)\n"
    "  --mqtt-credentials FILE  the broker user on the first line, its password on the\n"
    "                      second\n"
    "  --mqtt-cafile FILE  TLS to the broker, trusting the CA certificates in FILE\n"
    "  --config FILE       the same options as an INI file (key=value, keys without the\n"
    "                      dashes, flags as true/false); the command line wins\n";

namespace {

using Apply = std::function<Result<>(ServiceOptions&, const std::string& value)>;

// One option, as spelt on the command line ("--name") and in the config
// file ("name"). Flags get "true" from the command line.
struct OptionRow {
    std::string_view name;
    bool takesValue;
    Apply apply;
};

Result<> fail(std::string why) { return Result<>::failure(std::move(why)); }

Result<> setText(std::string& field, const std::string& v, std::string_view name) {
    if (v.empty()) return fail("--" + std::string(name) + " needs a value");
    field = v;
    return {};
}

std::optional<bool> parseFlag(const std::string& v) {
    if (v == "true" || v == "1" || v == "yes" || v == "on") return true;
    if (v == "false" || v == "0" || v == "no" || v == "off") return false;
    return std::nullopt;
}

Apply flag(bool ServiceOptions::*field, std::string_view name) {
    return [field, name](ServiceOptions& o, const std::string& v) {
        const auto b = parseFlag(v);
        if (!b) return fail(std::string(name) + " is true or false, not \"" + v + "\"");
        o.*field = *b;
        return Result<>{};
    };
}

Apply text(std::string ServiceOptions::*field, std::string_view name) {
    return [field, name](ServiceOptions& o, const std::string& v) {
        return setText(o.*field, v, name);
    };
}

const std::vector<OptionRow>& optionTable() {
    static const std::vector<OptionRow> rows{
        {"port", true,
         [](ServiceOptions& o, const std::string& v) {
             std::int64_t n = 0;
             if (v.size() > 5 || !parseDecimal(v, n) || n < kMinPortNumber || n > kMaxPortNumber) {
                 return fail("--port needs a number from " + std::to_string(kMinPortNumber) +
                             " to " + std::to_string(kMaxPortNumber));
             }
             o.port = static_cast<int>(n);
             return Result<>{};
         }},
        {"device", true, text(&ServiceOptions::device, "device")},
        {"software-version", true,
         [](ServiceOptions& o, const std::string& v) {
             o.softwareVersion = v;  // kept exactly, blanks included, as the board's list
             return Result<>{};
         }},
        {"log", true, text(&ServiceOptions::logPath, "log")},
        {"raw", false, flag(&ServiceOptions::raw, "raw")},
        {"noise", false, flag(&ServiceOptions::noise, "noise")},
        {"activity", false, flag(&ServiceOptions::activity, "activity")},
        {"names", true, text(&ServiceOptions::namesPath, "names")},
        {"http", true,
         [](ServiceOptions& o, const std::string& v) {
             o.http = parseEndpoint(v);
             if (!o.http) return fail("--http needs ADDR:PORT, not \"" + v + "\"");
             return Result<>{};
         }},
        {"http-token", true, text(&ServiceOptions::httpTokenFile, "http-token")},
        {"https-cert", true, text(&ServiceOptions::httpsCert, "https-cert")},
        {"https-key", true, text(&ServiceOptions::httpsKey, "https-key")},
        {"mqtt", true,
         [](ServiceOptions& o, const std::string& v) {
             const auto hp = splitHostPort(v);
             const bool blank = hp && std::any_of(hp->host.begin(), hp->host.end(), [](char c) {
                                    return static_cast<unsigned char>(c) <= ' ';
                                });
             if (!hp || hp->port == 0 || blank) {
                 return fail("--mqtt needs HOST:PORT, not \"" + v + "\"");
             }
             o.mqttHost = hp->host;
             o.mqttPort = hp->port;
             return Result<>{};
         }},
        {"mqtt-prefix", true, text(&ServiceOptions::mqttPrefix, "mqtt-prefix")},
        {"site", true, text(&ServiceOptions::site, "site")},
        {"mqtt-credentials", true, text(&ServiceOptions::mqttCredentials, "mqtt-credentials")},
        {"mqtt-cafile", true, text(&ServiceOptions::mqttCafile, "mqtt-cafile")},
    };
    return rows;
}

const OptionRow* findRow(std::string_view name) {
    for (const OptionRow& r : optionTable()) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

// QSettings splits a value at commas; put it back together.
std::string iniValue(const QVariant& v) {
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(u',').toStdString();
    return v.toString().toStdString();
}

Result<> readConfig(const std::string& path, ServiceOptions& o) {
    const QString file = QString::fromStdString(path);
    if (const Result<> f = checkReadableFile(path, "the config file", kMaxConfigFile); !f.ok) return f;
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) return fail(path + ": not an INI file");
    for (const QString& key : ini.allKeys()) {
        const std::string k = key.toStdString();
        const OptionRow* row = findRow(k);
        if (!row) return fail(path + ": unknown option \"" + k + "\"");
        const Result<> r = row->apply(o, iniValue(ini.value(key)));
        if (!r.ok) return fail(path + ": " + r.error);
    }
    return {};
}

Result<> checkTogether(const ServiceOptions& o) {
    if (o.port.has_value() == !o.device.empty()) return fail("give --port or --device");
    if (o.http && !o.http->loopback() && o.httpTokenFile.empty()) {
        return fail("--http on an address other than loopback needs --http-token FILE");
    }
    if (o.httpsCert.empty() != o.httpsKey.empty() || (!o.httpsCert.empty() && !o.http)) {
        return fail("--https-cert and --https-key go together, with --http");
    }
    if (o.mqttHost.empty() &&
        (!o.mqttPrefix.empty() || !o.mqttCredentials.empty() || !o.mqttCafile.empty())) {
        return fail("--mqtt-prefix, --mqtt-credentials and --mqtt-cafile need --mqtt");
    }
    return {};
}

}  // namespace

std::optional<HostPort> splitHostPort(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    std::int64_t port = 0;
    if (portText.empty() || portText.size() > 5 || !parseDecimal(portText, port) || port > 65535) {
        return std::nullopt;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets
    }
    if (host.empty()) return std::nullopt;
    return HostPort{std::string(host), static_cast<int>(port)};
}

std::optional<HttpEndpoint> parseEndpoint(std::string_view text) {
    const auto hp = splitHostPort(text);
    if (!hp) return std::nullopt;
    HttpEndpoint e;
    e.port = static_cast<quint16>(hp->port);
    if (hp->host == "localhost") {
        e.address = QHostAddress(QHostAddress::LocalHost);
    } else if (!e.address.setAddress(QString::fromStdString(hp->host))) {
        return std::nullopt;
    }
    return e;
}

Result<ServiceOptions> readServiceOptions(const std::vector<std::string>& args) {
    using R = Result<ServiceOptions>;
    // Two passes: the config file first, whatever its place, then the line over it.
    std::vector<std::pair<const OptionRow*, std::string>> given;
    ServiceOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--config") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return R::failure("--config needs a file");
            o.configPath = args[++i];
            continue;
        }
        const OptionRow* row =
            a.starts_with("--") ? findRow(std::string_view(a).substr(2)) : nullptr;
        if (!row) return R::failure("unknown argument " + a);
        if (!row->takesValue) {
            given.emplace_back(row, "true");
        } else if (i + 1 >= args.size()) {
            return R::failure(a + " needs a value");
        } else {
            given.emplace_back(row, args[++i]);
        }
    }
    if (!o.configPath.empty()) {
        const Result<> r = readConfig(o.configPath, o);
        if (!r.ok) return R::failure(r.error);
    }
    bool portOnLine = false;
    bool deviceOnLine = false;
    for (const auto& [row, value] : given) {
        // One of the pair on the line replaces the other from the file;
        // both on the line stay both, and are refused below.
        if (row->name == "port" && !deviceOnLine) o.device.clear();
        if (row->name == "device" && !portOnLine) o.port.reset();
        portOnLine = portOnLine || row->name == "port";
        deviceOnLine = deviceOnLine || row->name == "device";
        const Result<> r = row->apply(o, value);
        if (!r.ok) return R::failure(r.error);
    }
    if (o.softwareVersion.empty()) o.softwareVersion = std::string(kDefaultVersion);
    const Result<> together = checkTogether(o);
    if (!together.ok) return R::failure(together.error);
    if (const Result<> files = checkServiceFiles(o); !files.ok) return R::failure(files.error);
    // The booth's name: the web board's title and the MQTT topic level.
    if (o.site.empty()) o.site = QSysInfo::machineHostName().toStdString();
    if (!o.mqttHost.empty()) {
        if (o.mqttPrefix.empty()) o.mqttPrefix = std::string(mqtt::kDefaultPrefix);
        const std::string why = mqtt::topicError(o.mqttPrefix, o.site);
        if (!why.empty()) return R::failure(why);
    }
    return R::success(std::move(o));
}

}  // namespace lw::service
