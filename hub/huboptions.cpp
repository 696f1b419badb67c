#include "hub/huboptions.h"

#include <fstream>
#include <functional>
#include <sstream>

#include "core/textutil.h"

namespace lw::hub {

namespace {

using R = Result<HubOptions>;

// HOST:PORT with brackets around an IPv6 address; false when malformed.
bool hostPort(const std::string& v, std::string& host, int& port, int lowest = 1) {
    std::string h;
    std::string p;
    if (!v.empty() && v[0] == '[') {
        const auto end = v.find("]:");
        if (end == std::string::npos) return false;
        h = v.substr(1, end - 1);
        p = v.substr(end + 2);
    } else {
        const auto colon = v.rfind(':');
        if (colon == std::string::npos) return false;
        h = v.substr(0, colon);
        p = v.substr(colon + 1);
    }
    int n = 0;
    if (h.empty() || p.size() > 5 || !parseDecimal(p, n) || n < lowest || n > 65535) return false;
    host = h;
    port = n;
    return true;
}

bool count(const std::string& v, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
    return v.size() <= 9 && parseDecimal(v, out) && out >= lo && out <= hi;
}

struct Option {
    const char* name;  // without "--"; the config file's key
    const char* arg;
    const char* help;
    std::function<bool(HubOptions&, const std::string&)> set;
};

const std::vector<Option>& options() {
    static const std::vector<Option> table = {
        {"mqtt", "HOST:PORT", "the broker the booths publish to (required)",
         [](HubOptions& o, const std::string& v) { return hostPort(v, o.mqttHost, o.mqttPort); }},
        {"mqtt-prefix", "P", "the topic prefix the booths publish under (default linewarden)",
         [](HubOptions& o, const std::string& v) {
             const bool ok = !v.empty() && v.find_first_of("+#") == std::string::npos &&
                             v.front() != '/' && v.back() != '/';
             if (ok) o.mqttPrefix = v;
             return ok;
         }},
        {"mqtt-cafile", "F", "TLS to the broker, trusting this CA",
         [](HubOptions& o, const std::string& v) { return o.mqttCafile = v, !v.empty(); }},
        {"mqtt-credentials", "F", "broker user and password: a file of two lines",
         [](HubOptions& o, const std::string& v) { return o.mqttCredentials = v, !v.empty(); }},
        {"mqtt-client-id", "ID", "the hub's session at the broker (default linewarden-hub-HOST)",
         [](HubOptions& o, const std::string& v) {
             return o.clientId = v, !v.empty() && v.size() <= 64;
         }},
        {"http", "ADDR:PORT", "serve the page and the API here",
         [](HubOptions& o, const std::string& v) {
             // Port 0: any free port, told in the journal.
             return o.http = hostPort(v, o.httpAddress, o.httpPort, 0);
         }},
        {"http-token", "F", "require the token this file holds",
         [](HubOptions& o, const std::string& v) { return o.httpToken = v, !v.empty(); }},
        {"https-cert", "F", "HTTPS only, with this PEM certificate (chain)",
         [](HubOptions& o, const std::string& v) { return o.httpsCert = v, !v.empty(); }},
        {"https-key", "F", "and this PEM key",
         [](HubOptions& o, const std::string& v) { return o.httpsKey = v, !v.empty(); }},
        {"db", "FILE", "keep history in this SQLite file",
         [](HubOptions& o, const std::string& v) { return o.db = v, !v.empty(); }},
        {"keep-days", "N", "days of history kept (default 400)",
         [](HubOptions& o, const std::string& v) {
             std::int64_t n = 0;
             return count(v, 1, 100000, n) && (o.keepDays = static_cast<int>(n), true);
         }},
        {"max-sites", "N", "sites kept at most (default 5000)",
         [](HubOptions& o, const std::string& v) {
             std::int64_t n = 0;
             return count(v, 1, 1000000, n) && (o.maxSites = static_cast<std::size_t>(n), true);
         }},
    };
    return table;
}

const Option* findOption(std::string_view name) {
    for (const Option& o : options()) {
        if (name == o.name) return &o;
    }
    return nullptr;
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
        const Option* opt = findOption(key);
        if (!opt || key == "config")
            return Result<>::failure(path + ":" + std::to_string(n) + ": unknown key " + key, n);
        if (!opt->set(o, trim(line.substr(eq + 1))))
            return Result<>::failure(path + ":" + std::to_string(n) + ": bad value for " + key, n);
    }
    return {};
}

}  // namespace

std::string hubUsage() {
    std::ostringstream u;
    u << "usage: linewarden-hub --mqtt HOST:PORT [options]\n"
         "Gathers every booth publishing under the prefix into one live page, with history.\n\n";
    for (const Option& o : options()) {
        std::string left = std::string("  --") + o.name + " " + o.arg;
        left.resize(std::max<std::size_t>(left.size() + 2, 28), ' ');
        u << left << o.help << '\n';
    }
    u << "  --config FILE             the same options as key=value lines\n"
         "  --help, --version\n";
    return u.str();
}

R readHubOptions(const std::vector<std::string>& args) {
    HubOptions o;
    // The config file first, wherever it stands; the command line over it.
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config") {
            if (i + 1 >= args.size()) return R::failure("--config needs a file");
            o.configPath = args[i + 1];
        }
    }
    if (!o.configPath.empty()) {
        if (Result<> r = readConfig(o.configPath, o); !r.ok) return R::failure(r.error, r.line);
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) return R::failure("unexpected argument " + a);
        const std::string name = a.substr(2);
        if (name == "config") {
            ++i;
            continue;
        }
        const Option* opt = findOption(name);
        if (!opt) return R::failure("unknown option " + a);
        if (i + 1 >= args.size()) return R::failure(a + " needs " + opt->arg);
        if (!opt->set(o, args[++i])) return R::failure("bad value for " + a + ": " + args[i]);
    }
    if (o.mqttHost.empty()) return R::failure("--mqtt HOST:PORT is required");
    if (o.httpsCert.empty() != o.httpsKey.empty() || (!o.httpsCert.empty() && !o.http))
        return R::failure("--https-cert and --https-key go together, with --http");
    return R::success(std::move(o));
}

}  // namespace lw::hub
