#include "net/web/answer.h"

namespace lw::web {

namespace {

constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kJson = "application/json";
constexpr const char* kHtml = "text/html; charset=utf-8";

constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

const char* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 411: return "Length Required";
        case 413: return "Content Too Large";
        case 415: return "Unsupported Media Type";
        case 429: return "Too Many Requests";
        case 431: return "Request Header Fields Too Large";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

}  // namespace

Answer textAnswer(int status, const char* body) {
    Answer a;
    a.status = status;
    a.type = kText;
    a.body = std::string(body) + '\n';
    return a;
}

Answer refusal(int status) { return textAnswer(status, reason(status)); }

Answer jsonAnswer(std::string body) {
    Answer a;
    a.type = kJson;
    a.body = std::move(body);
    return a;
}

Answer pageAnswer(std::string html) {
    Answer a;
    a.type = kHtml;
    a.body = std::move(html);
    a.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    return a;
}

std::optional<Answer> gate(const Request& request, const AccessRule& rule,
                           const std::string& wsPath) {
    if (request.method != "GET") {
        Answer a = textAnswer(405, "Only GET is served here");
        a.headers.emplace_back("Allow", "GET");
        return a;
    }
    switch (rule.check(request)) {
        case AccessRule::Verdict::Allowed:
            break;
        case AccessRule::Verdict::UnknownHost:
            return textAnswer(403, "Unknown host name");
        case AccessRule::Verdict::NoToken: {
            Answer a = textAnswer(401, "A valid token is required");
            a.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"linewarden\"");
            return a;
        }
        case AccessRule::Verdict::ForeignOrigin:
            return textAnswer(403, "Not allowed");
    }
    if (request.upgrade()) {
        if (request.path != wsPath) return textAnswer(403, "Not allowed");
        Answer a;
        a.webSocket = true;
        return a;
    }
    if (request.path == wsPath) return textAnswer(400, "A WebSocket upgrade is expected here");
    return std::nullopt;
}

std::string responseBytes(const Answer& a, bool close) {
    std::string out = "HTTP/1.1 " + std::to_string(a.status) + ' ' + reason(a.status) +
                      "\r\nContent-Type: " + a.type +
                      "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff"
                      "\r\nReferrer-Policy: no-referrer\r\n";
    for (const auto& [name, value] : a.headers) out += name + ": " + value + "\r\n";
    out += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
    if (close) out += "Connection: close\r\n";
    out += "\r\n";
    out += a.body;
    return out;
}

}  // namespace lw::web
