#include "net/web/accessrule.h"

#include <algorithm>
#include <cctype>

namespace lw::web {

namespace {

std::string lowerCase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return out;
}

struct Authority {
    std::string host;  // lower case, an IPv6 address in brackets
    std::string port;  // empty: the scheme's own
};

// host[:port] or [v6][:port]; nothing else survives.
bool splitAuthority(std::string_view text, Authority& out) {
    std::size_t hostEnd = 0;
    if (text.starts_with('[')) {
        hostEnd = text.find(']');
        if (hostEnd == std::string_view::npos) return false;
        ++hostEnd;
    } else {
        hostEnd = std::min(text.find(':'), text.size());
    }
    out.host = lowerCase(text.substr(0, hostEnd));
    const std::string_view rest = text.substr(hostEnd);
    if (rest.empty()) return !out.host.empty();
    if (rest.front() != ':') return false;
    out.port.assign(rest.substr(1));
    while (out.port.size() > 1 && out.port.front() == '0') out.port.erase(0, 1);
    return !out.host.empty() && out.port.size() <= 5 &&
           std::all_of(out.port.begin(), out.port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool sameSecret(std::string_view given, std::string_view secret) {
    unsigned char diff = given.size() == secret.size() ? 0 : 1;
    const std::size_t n = std::max(given.size(), secret.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char a = i < given.size() ? given[i] : 0;
        const char b = i < secret.size() ? secret[i] : 0;
        diff |= static_cast<unsigned char>(a ^ b);
    }
    return diff == 0;
}

bool sameOrigin(std::string_view origin, std::string_view host, std::string_view hostDefaultPort) {
    std::string_view defaultPort;
    if (origin.starts_with("http://")) {
        defaultPort = "80";
        origin.remove_prefix(7);
    } else if (origin.starts_with("https://")) {
        defaultPort = "443";
        origin.remove_prefix(8);
    } else {
        return false;  // "null", or not a web page
    }
    Authority from, to;
    if (!splitAuthority(origin, from) || !splitAuthority(host, to)) return false;
    if (from.port.empty()) from.port = defaultPort;
    if (to.port.empty()) to.port = hostDefaultPort;
    return from.host == to.host && from.port == to.port;
}

bool AccessRule::hostAllowed(std::string_view host) const {
    if (!m_token.empty()) return true;
    Authority a;
    if (!splitAuthority(host, a)) return false;
    return a.host == "localhost" || a.host == "127.0.0.1" || a.host == "[::1]" ||
           a.host == lowerCase(m_boundHost);
}

bool AccessRule::authorised(const Request& request) const {
    if (m_token.empty()) return true;
    const std::string_view authorization = request.header("authorization");
    if (authorization.starts_with("Bearer ")) {
        std::string_view given = authorization.substr(7);
        while (!given.empty() && given.front() == ' ') given.remove_prefix(1);
        return sameSecret(given, m_token);
    }
    const std::string given = queryValue(request.query, "token");
    return !given.empty() && sameSecret(given, m_token);
}

AccessRule::Verdict AccessRule::check(const Request& request) const {
    if (!hostAllowed(request.header("host"))) return Verdict::UnknownHost;
    if (!authorised(request)) return Verdict::NoToken;
    // A browser names the page's origin; other clients need not.
    const std::string_view origin = request.header("origin");
    if (request.upgrade() && !origin.empty() && !sameOrigin(origin, request.header("host"), m_secure ? "443" : "80")) {
        return Verdict::ForeignOrigin;
    }
    return Verdict::Allowed;
}

}  // namespace lw::web
