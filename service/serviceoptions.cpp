#include "service/serviceoptions.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>
#include <algorithm>

#include "core/busprotocol.h"
#include "core/commandline.h"
#include "core/hadiscovery.h"
#include "core/textutil.h"
#include "service/filechecks.h"
#include "service/mqtt/topics.h"

namespace lw::service {

namespace {

using Option = cli::Option<ServiceOptions>;
using cli::textOption;

Result<> fail(std::string why) { return Result<>::failure(std::move(why)); }

const cli::OptionTable<ServiceOptions>& optionTable() {
    static const cli::OptionTable<ServiceOptions> table = [] {
        cli::OptionTable<ServiceOptions> t{
            {"port", "N", "COM port number, mapped like the status board maps it",
             [](ServiceOptions& o, const std::string& v) {
                 std::int64_t n = 0;
                 if (v.size() > 5 || !parseDecimal(v, n) || n < kMinPortNumber ||
                     n > kMaxPortNumber) {
                     return fail("--port needs a number from " + std::to_string(kMinPortNumber) +
                                 " to " + std::to_string(kMaxPortNumber));
                 }
                 o.comNumber = static_cast<int>(n);
                 return Result<>{};
             }},
            textOption("device", "PATH", &ServiceOptions::device,
                       "a serial device or pseudo-terminal"),
        };
        addMonitorOptions(t);
        t.push_back({"http", "ADDR:PORT",
                     "serves the web board there (e.g. 127.0.0.1:8480; port 0: any)",
                     [](ServiceOptions& o, const std::string& v) {
                         o.http = parseEndpoint(v);
                         if (!o.http) return fail("--http needs ADDR:PORT, not \"" + v + "\"");
                         return Result<>{};
                     }});
        t.push_back(textOption("http-token", "FILE", &ServiceOptions::httpTokenFile,
                               "a bearer token that every web request must carry; required\n"
                               "for an address other than loopback"));
        t.push_back(textOption("https-cert", "FILE", &ServiceOptions::httpsCert,
                               "serve the web board over HTTPS only, with this PEM\n"
                               "certificate (chain) and --https-key's key"));
        t.push_back(textOption("https-key", "FILE", &ServiceOptions::httpsKey,
                               "the key of --https-cert"));
        t.push_back({"mqtt", "HOST:PORT", "publishes the board and the records to that MQTT broker",
                     [](ServiceOptions& o, const std::string& v) {
                         const auto hp = splitHostPort(v);
                         const bool blank =
                             hp && std::any_of(hp->host.begin(), hp->host.end(), [](char c) {
                                 return static_cast<unsigned char>(c) <= ' ';
                             });
                         if (!hp || hp->port == 0 || blank) {
                             return fail("--mqtt needs HOST:PORT, not \"" + v + "\"");
                         }
                         o.mqttHost = hp->host;
                         o.mqttPort = hp->port;
                         return Result<>{};
                     }});
        t.push_back(textOption("mqtt-prefix", "PREFIX", &ServiceOptions::mqttPrefix,
                               "the first topic level(s) (default linewarden)"));
        t.push_back(textOption("site", "NAME", &ServiceOptions::site,
                               "this booth's name: web page title, MQTT topic level\n"
                               "(default the host name)"));
        t.push_back(textOption("mqtt-credentials", "FILE", &ServiceOptions::mqttCredentials,
                               "the broker user on the first line, its password on the\n"
                               "second"));
        t.push_back(textOption("mqtt-cafile", "FILE", &ServiceOptions::mqttCafile,
                               "TLS to the broker, trusting the CA certificates in FILE"));
        // A flag with an optional value: --ha-discovery, --ha-discovery=PREFIX.
        t.push_back({"ha-discovery", {},
                     "Home Assistant finds the site and its units by MQTT\n"
                     "discovery under PREFIX (--ha-discovery=PREFIX; default homeassistant)",
                     [](ServiceOptions& o, const std::string& v) {
                         const auto on = cli::parseFlag(v);
                         o.haDiscovery =
                             on ? (*on ? std::string(ha::kDefaultDiscoveryPrefix) : "") : v;
                         const std::string why = on ? "" : ha::discoveryPrefixError(v);
                         return why.empty() ? Result<>{} : fail("--ha-discovery: " + why);
                     }});
        t.push_back(cli::flagOption<ServiceOptions>(
            "ha-remove", &ServiceOptions::haRemove,
            "removes this site's discovery configs from the broker, exits"));
        t.push_back(cli::flagOption<ServiceOptions>(
            "metrics", &ServiceOptions::metrics,
            "serves Prometheus metrics at /metrics on the --http listener"));
        t.push_back(cli::flagOption<ServiceOptions>(
            "no-board", &ServiceOptions::noBoard,
            "the --http listener serves /metrics only, no web board"));
        t.push_back(textOption("config", "FILE", &ServiceOptions::configPath,
                               "the same options as an INI file (key=value, keys without the\n"
                               "dashes, flags as true/false); the command line wins"));
        return t;
    }();
    return table;
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
        const Option* row = k == "config" ? nullptr : cli::findOption(optionTable(), k);
        if (!row) return fail(path + ": unknown option \"" + k + "\"");
        const Result<> r = row->apply(o, iniValue(ini.value(key)));
        if (!r.ok) return fail(path + ": " + r.error);
    }
    return {};
}

Result<> checkTogether(const ServiceOptions& o) {
    // Removing the discovery configs needs the broker, not the bus.
    if (o.comNumber.has_value() == !o.device.empty() &&
        !(o.haRemove && !o.comNumber && o.device.empty())) {
        return fail("give --port or --device");
    }
    if (o.mqttHost.empty() && (!o.haDiscovery.empty() || o.haRemove)) {
        return fail("--ha-discovery and --ha-remove need --mqtt");
    }
    if (!o.http && (o.metrics || o.noBoard)) return fail("--metrics and --no-board need --http");
    if (o.noBoard && !o.metrics) return fail("--no-board leaves only /metrics: give --metrics");
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

const std::string& serviceUsage() {
    static const std::string text = cli::usageText(
        kServiceName, "(--port N | --device PATH) [OPTION]...",
        "Monitors a KX-40 bus without a display, read-only, and keeps its activity log;\n"
        "with --http it serves a live board to web browsers.\n",
        optionTable(),
        "  --new-token FILE    writes a new random token to FILE (mode 0600), prints the\n"
        "                      address to open, and exits\n"
        "Any option may also be written --NAME=VALUE.\n");
    return text;
}

Result<ServiceOptions> readServiceOptions(const std::vector<std::string>& args) {
    using R = Result<ServiceOptions>;
    const auto given = cli::splitLine(args, optionTable());
    if (!given.ok) return R::failure(given.error);
    // The config file first, wherever it stands, then the line over it.
    ServiceOptions o;
    for (const auto& g : given.value) {
        if (g.option->name != "config") continue;
        const Result<> r = g.option->apply(o, g.value);
        if (!r.ok) return R::failure(r.error);
    }
    if (!o.configPath.empty()) {
        const Result<> r = readConfig(o.configPath, o);
        if (!r.ok) return R::failure(r.error);
    }
    bool portOnLine = false;
    bool deviceOnLine = false;
    for (const auto& [row, value] : given.value) {
        // One of the pair on the line replaces the other from the file;
        // both on the line stay both, and are refused below.
        if (row->name == "port" && !deviceOnLine) o.device.clear();
        if (row->name == "device" && !portOnLine) o.comNumber.reset();
        portOnLine = portOnLine || row->name == "port";
        deviceOnLine = deviceOnLine || row->name == "device";
        const Result<> r = row->apply(o, value);
        if (!r.ok) return R::failure(r.error);
    }
    if (!o.softwareVersion || o.softwareVersion->empty()) {
        o.softwareVersion = std::string(kDefaultVersion);
    }
    const Result<> together = checkTogether(o);
    if (!together.ok) return R::failure(together.error);
    if (const Result<> files = checkServiceFiles(o); !files.ok) return R::failure(files.error);
    // The booth's name: the web board's title and the MQTT topic level.
    if (o.site.empty()) o.site = QSysInfo::machineHostName().toStdString();
    if (o.haRemove && o.haDiscovery.empty()) o.haDiscovery = std::string(ha::kDefaultDiscoveryPrefix);
    if (!o.mqttHost.empty()) {
        if (o.mqttPrefix.empty()) o.mqttPrefix = std::string(mqtt::kDefaultPrefix);
        const std::string why = mqtt::topicError(o.mqttPrefix, o.site);
        if (!why.empty()) return R::failure(why);
    }
    return R::success(std::move(o));
}

}  // namespace lw::service
