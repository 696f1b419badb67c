#include "hub/huboptions.h"

#include <fstream>
#include <functional>

#include "core/commandline.h"
#include "core/textutil.h"

namespace lw::hub {

namespace {

using R = Result<HubOptions>;
using Option = cli::Option<HubOptions>;

Result<> bad(std::string_view name, const std::string& v) {
    return Result<>::failure("bad value for --" + std::string(name) + ": " + v);
}

// A row whose value is good when `set` says so; refused in one way for all.
Option row(std::string_view name, std::string_view value, std::string_view help,
           std::function<bool(HubOptions&, const std::string&)> set) {
    return {name, value, help, [name, set = std::move(set)](HubOptions& o, const std::string& v) {
                return set(o, v) ? Result<>{} : bad(name, v);
            }};
}

Option fileRow(std::string_view name, std::string_view value, std::string HubOptions::*field,
               std::string_view help) {
    return row(name, value, help, [field](HubOptions& o, const std::string& v) {
        o.*field = v;
        return !v.empty();
    });
}

// HOST:PORT as every program reads it, the port at least `lowest`.
bool hostPort(const std::string& v, std::string& host, int& port, int lowest) {
    const auto hp = cli::splitHostPort(v);
    if (!hp || hp->port < lowest) return false;
    host = hp->host;
    port = hp->port;
    return true;
}

bool count(const std::string& v, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
    return v.size() <= 9 && parseDecimal(v, out) && out >= lo && out <= hi;
}

const cli::OptionTable<HubOptions>& options() {
    static const cli::OptionTable<HubOptions> table = {
        row("mqtt", "HOST:PORT", "the broker the booths publish to (required)",
            [](HubOptions& o, const std::string& v) { return hostPort(v, o.mqttHost, o.mqttPort, 1); }),
        row("mqtt-prefix", "P", "the topic prefix the booths publish under (default linewarden)",
            [](HubOptions& o, const std::string& v) {
                const bool ok = !v.empty() && v.find_first_of("+#") == std::string::npos &&
                                v.front() != '/' && v.back() != '/';
                if (ok) o.mqttPrefix = v;
                return ok;
            }),
        fileRow("mqtt-cafile", "F", &HubOptions::mqttCafile, "TLS to the broker, trusting this CA"),
        fileRow("mqtt-credentials", "F", &HubOptions::mqttCredentials,
                "broker user and password: a file of two lines"),
        row("mqtt-client-id", "ID", "the hub's session at the broker (default linewarden-hub-HOST)",
            [](HubOptions& o, const std::string& v) {
                return o.clientId = v, !v.empty() && v.size() <= 64;
            }),
        row("http", "ADDR:PORT", "serve the page and the API here (port 0: any free port)",
            [](HubOptions& o, const std::string& v) {
                // Port 0: any free port, told in the journal.
                return o.http = hostPort(v, o.httpAddress, o.httpPort, 0);
            }),
        fileRow("http-token", "F", &HubOptions::httpToken, "require the token this file holds"),
        fileRow("https-cert", "F", &HubOptions::httpsCert,
                "HTTPS only, with this PEM certificate (chain)"),
        fileRow("https-key", "F", &HubOptions::httpsKey, "and this PEM key"),
        fileRow("db", "FILE", &HubOptions::db, "keep history in this SQLite file"),
        row("keep-days", "N", "days of history kept (default 400)",
            [](HubOptions& o, const std::string& v) {
                std::int64_t n = 0;
                return count(v, 1, 100000, n) && (o.keepDays = static_cast<int>(n), true);
            }),
        row("max-sites", "N", "sites kept at most (default 5000)",
            [](HubOptions& o, const std::string& v) {
                std::int64_t n = 0;
                return count(v, 1, 1000000, n) && (o.maxSites = static_cast<std::size_t>(n), true);
            }),
        fileRow("config", "FILE", &HubOptions::configPath,
                "the same options as key=value lines; the command line wins"),
    };
    return table;
}

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

Result<> readConfig(const std::string& path, HubOptions& o) {
    std::ifstream in(pathFromUtf8(path));
    if (!in) return Result<>::failure("cannot read the config file " + path);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (n > 1000 || line.size() > 4096) return Result<>::failure(path + ": too long", n);
        line = trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            return Result<>::failure(path + ":" + std::to_string(n) + ": key=value expected", n);
        const std::string key = trim(line.substr(0, eq));
        const Option* opt = key == "config" ? nullptr : cli::findOption(options(), key);
        if (!opt)
            return Result<>::failure(path + ":" + std::to_string(n) + ": unknown key " + key, n);
        if (!opt->apply(o, trim(line.substr(eq + 1))).ok)
            return Result<>::failure(path + ":" + std::to_string(n) + ": bad value for " + key, n);
    }
    return {};
}

}  // namespace

std::string hubUsage() {
    return cli::usageText(kHubName, "--mqtt HOST:PORT [OPTION]...",
                          "Gathers every booth publishing under the prefix into one live page, "
                          "with history.\n\n",
                          options(), "Any option may also be written --NAME=VALUE.\n");
}

R readHubOptions(const std::vector<std::string>& args) {
    const auto given = cli::splitLine<HubOptions>(args, options(), [](const std::string& a) {
        return Result<>::failure("unexpected argument " + a);
    });
    if (!given.ok) return R::failure(given.error);
    HubOptions o;
    // The config file first, wherever it stands on the line; the line over it.
    for (const auto& g : given.value) {
        if (g.option->name == "config") o.configPath = g.value;
    }
    if (!o.configPath.empty()) {
        if (Result<> r = readConfig(o.configPath, o); !r.ok) return R::failure(r.error, r.line);
    }
    if (Result<> r = cli::apply(given.value, o); !r.ok) return R::failure(r.error);
    if (o.mqttHost.empty()) return R::failure("--mqtt HOST:PORT is required");
    if (o.httpsCert.empty() != o.httpsKey.empty() || (!o.httpsCert.empty() && !o.http))
        return R::failure("--https-cert and --https-key go together, with --http");
    return R::success(std::move(o));
}

}  // namespace lw::hub
