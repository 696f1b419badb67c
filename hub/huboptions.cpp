#include "hub/huboptions.h"

#include <fstream>
#include <functional>

#include "core/commandline.h"
#include "core/textutil.h"
#include "net/notify/formats.h"

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

// N, Ns, Nm or Nh, within [lo, hi] milliseconds; a bare N is in `unit` ms.
bool duration(std::string v, std::int64_t unit, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
    if (!v.empty() && (v.back() == 's' || v.back() == 'm' || v.back() == 'h')) {
        unit = v.back() == 's' ? 1000 : v.back() == 'm' ? 60'000 : 3'600'000;
        v.pop_back();
    }
    std::int64_t n = 0;
    if (!count(v, 0, 100'000'000, n)) return false;
    out = n * unit;
    return out >= lo && out <= hi;
}

// Any number of a channel, each refused as the notifier would refuse it.
Option channel(std::string_view name, std::string_view value, std::string_view help,
               std::vector<std::string> HubOptions::*field, notify::ChannelKind kind) {
    return {name, value, help, [name, field, kind](HubOptions& o, const std::string& v) {
                if ((o.*field).size() >= 16) return bad(name, v + " (16 of a kind at most)");
                const auto c = notify::parseChannel(kind, v);
                if (!c.ok) return Result<>::failure("bad value for --" + std::string(name) + ": " + c.error);
                (o.*field).push_back(v);
                return Result<>{};
            }};
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
        fileRow("operator-tokens", "F", &HubOptions::operatorTokens,
                "operators who may act on alarms: 'label token' lines, a file only the hub reads"),
        row("bus-lost-after", "SECONDS", "a lost bus is an alarm after this long (default 30)",
            [](HubOptions& o, const std::string& v) { return duration(v, 1000, 1000, 86'400'000, o.busLostAfterMs); }),
        row("offline-after", "SECONDS", "an offline site is an alarm after this long (default 120)",
            [](HubOptions& o, const std::string& v) { return duration(v, 1000, 1000, 86'400'000, o.offlineAfterMs); }),
        channel("notify-webhook", "URL", "POST each message as JSON here (any number)", &HubOptions::notifyWebhook,
                notify::ChannelKind::Webhook),
        channel("notify-ntfy", "URL", "publish each message to this ntfy topic URL (any number)",
                &HubOptions::notifyNtfy, notify::ChannelKind::Ntfy),
        channel("notify-mail", "ADDRESS", "mail each message through sendmail (any number)", &HubOptions::notifyMail,
                notify::ChannelKind::Mail),
        fileRow("sendmail", "PROGRAM", &HubOptions::sendmail, "the sendmail program (default /usr/sbin/sendmail)"),
        row("remind", "MINUTES", "remind every this long while unacknowledged (default 15; 90s also reads)",
            [](HubOptions& o, const std::string& v) { return duration(v, 60'000, 1000, 86'400'000, o.remindMs); }),
        row("group", "SECONDS", "one message per site at most this often (default 30)",
            [](HubOptions& o, const std::string& v) { return duration(v, 1000, 0, 3'600'000, o.groupMs); }),
        row("summary-at", "HH:MM", "send the night's summary every morning at this time",
            [](HubOptions& o, const std::string& v) {
                std::int64_t h = 0, m = 0;
                const bool ok = v.size() == 5 && v[2] == ':' && count(v.substr(0, 2), 0, 23, h) &&
                                count(v.substr(3), 0, 59, m);
                if (ok) o.summaryAt = static_cast<int>(h * 60 + m);
                return ok;
            }),
        row("page-url", "URL", "the page as people reach it, for links in messages",
            [](HubOptions& o, const std::string& v) {
                o.pageUrl = v;
                while (!o.pageUrl.empty() && o.pageUrl.back() == '/') o.pageUrl.pop_back();
                return v.rfind("http://", 0) == 0 || v.rfind("https://", 0) == 0;
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
    if (!o.operatorTokens.empty() && !o.http) return R::failure("--operator-tokens goes with --http");
    return R::success(std::move(o));
}

}  // namespace lw::hub
