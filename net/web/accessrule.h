#pragma once

#include <string>
#include <string_view>

#include "net/web/requestparser.h"

namespace lw::web {

// Who may see the board, one rule for plain requests and WebSockets alike:
// - with a token, every request carries it (Authorization: Bearer, or
//   ?token= where a browser cannot set a header);
// - without one, the board answers only to names of this host, so no web
//   site can rebind its own name to it and read the board;
// - a browser may open the WebSocket only from a page of this same host.
class AccessRule {
public:
    enum class Verdict { Allowed, UnknownHost, NoToken, ForeignOrigin };

    // `boundHost`: the listening address as written in a URL (127.0.0.1, [::1]);
    // `secure`: served over HTTPS, where a Host without a port means 443.
    AccessRule(std::string token, std::string boundHost, bool secure = false)
        : m_token(std::move(token)), m_boundHost(std::move(boundHost)), m_secure(secure) {}

    Verdict check(const Request& request) const;
    bool tokenRequired() const { return !m_token.empty(); }
    bool secure() const { return m_secure; }
    // A Host header this rule answers to: any with a token, else a name of
    // this host only.
    bool hostAllowed(std::string_view host) const;

private:
    bool authorised(const Request& request) const;

    std::string m_token;
    std::string m_boundHost;
    bool m_secure;
};

// Compares in a time that depends on the lengths only, never on where the
// first difference is.
bool sameSecret(std::string_view given, std::string_view secret);

// A page at `origin` (scheme://host[:port]) talks to the same host and port
// as the Host header names (its port `hostDefaultPort` when it has none).
bool sameOrigin(std::string_view origin, std::string_view host,
                std::string_view hostDefaultPort = "80");

}  // namespace lw::web
