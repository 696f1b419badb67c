#include "net/web/requestparser.h"

#include <algorithm>
#include <cctype>

namespace lw::web {

namespace {

using Outcome = ParseResult::Outcome;

ParseResult refused(int status) {
    ParseResult r;
    r.outcome = Outcome::Refused;
    r.status = status;
    return r;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

// A comma-separated header value holds `token`, in any case.
bool listHas(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        std::string_view item = value.substr(0, comma);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (equalsNoCase(item, token)) return true;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

bool tokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool digits(std::string_view s) {
    return !s.empty() && s.size() <= 15 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// METHOD SP TARGET SP HTTP/1.x CRLF, checked as far as it has come: false as
// soon as it cannot become one. `end` is set past the line's LF once it is whole.
bool requestLine(std::string_view b, std::size_t from, Request& req, std::size_t& end) {
    std::size_t i = from;
    while (i < b.size() && b[i] >= 'A' && b[i] <= 'Z' && i - from < 16) ++i;
    if (i == b.size()) return true;
    if (b[i] != ' ' || i == from) return false;
    const std::size_t targetAt = ++i;
    while (i < b.size() && b[i] >= '!' && b[i] <= '~') ++i;
    if (i == b.size()) return true;
    if (b[i] != ' ' || i == targetAt) return false;
    const std::size_t versionAt = ++i;
    static constexpr std::string_view kVersion = "HTTP/1.";
    for (std::size_t k = 0; k < kVersion.size(); ++k, ++i) {
        if (i == b.size()) return true;
        if (b[i] != kVersion[k]) return false;
    }
    if (i == b.size()) return true;
    if (b[i] != '0' && b[i] != '1') return false;
    ++i;
    if (i < b.size() && b[i] == '\r') ++i;
    if (i == b.size()) return true;
    if (b[i] != '\n') return false;
    req.method.assign(b.substr(from, targetAt - 1 - from));
    req.target.assign(b.substr(targetAt, versionAt - 1 - targetAt));
    req.minorVersion = b[versionAt + kVersion.size()] - '0';
    end = i + 1;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

std::string_view Request::header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (n == name) return v;
    }
    return {};
}

bool Request::keepAlive() const {
    return minorVersion == 1 && !listHas(header("connection"), "close");
}

bool Request::upgrade() const {
    return equalsNoCase(header("upgrade"), "websocket") && listHas(header("connection"), "upgrade");
}

bool Request::hasBody() const {
    const std::string_view length = header("content-length");
    return !header("transfer-encoding").empty() ||
           (!length.empty() && length.find_first_not_of('0') != std::string_view::npos);
}

ParseResult parseRequestHead(std::string_view bytes) {
    ParseResult r;
    // Blank lines before a request are allowed.
    std::size_t at = 0;
    while (at < bytes.size() && (bytes[at] == '\n' || (bytes[at] == '\r' && at + 1 < bytes.size() &&
                                                        bytes[at + 1] == '\n'))) {
        at += bytes[at] == '\r' ? 2 : 1;
    }
    if (at > kMaxHead) return refused(431);
    if (at + 1 == bytes.size() && bytes[at] == '\r') return r;  // the rest of a blank line to come
    std::size_t lineEnd = 0;
    Request& req = r.request;
    if (!requestLine(bytes, at, req, lineEnd)) return refused(400);
    if (lineEnd == 0) return bytes.size() > kMaxHead ? refused(431) : r;
    if (req.target.front() != '/') return refused(400);  // origin form only

    std::size_t pos = lineEnd;
    while (true) {
        const std::size_t nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos || nl >= kMaxHead) {
            return bytes.size() > kMaxHead ? refused(431) : r;
        }
        std::string_view line = bytes.substr(pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if (req.headers.size() >= kMaxHeaders) return refused(431);
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) return refused(400);
        const std::string_view name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), tokenChar)) return refused(400);
        std::string_view value = line.substr(colon + 1);
        if (std::any_of(value.begin(), value.end(), [](char c) {
                const auto u = static_cast<unsigned char>(c);
                return (u < 0x20 && c != '\t') || u == 0x7F;
            })) {
            return refused(400);
        }
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        std::string lowered(name);
        std::transform(lowered.begin(), lowered.end(), lowered.begin(), lower);
        // Two of these would let a proxy and this server read different requests.
        if ((lowered == "host" || lowered == "content-length") && !req.header(lowered).empty()) {
            return refused(400);
        }
        if (lowered == "content-length" && !digits(value)) return refused(400);
        req.headers.emplace_back(std::move(lowered), std::string(value));
    }
    const std::size_t q = req.target.find('?');
    req.path = req.target.substr(0, q);
    if (q != std::string::npos) req.query = req.target.substr(q + 1);
    r.outcome = Outcome::Complete;
    r.size = pos;
    return r;
}

BodyLength bodyLength(const Request& request) {
    if (request.method != "POST") return {};
    if (!request.header("transfer-encoding").empty()) return {411, 0};
    const std::string_view length = request.header("content-length");
    if (length.empty()) return {};
    if (!digits(length)) return {400, 0};
    std::size_t n = 0;
    for (const char c : length) {
        n = n * 10 + static_cast<std::size_t>(c - '0');
        if (n > kMaxBody) return {413, 0};
    }
    return {0, n};
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const int hi = s[i] == '%' && i + 2 < s.size() ? hexValue(s[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(s[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string queryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const std::size_t eq = item.find('=');
        if (item.substr(0, eq) == name) {
            const std::string_view raw = eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
            return percentDecoded(raw);
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return {};
}

}  // namespace lw::web
