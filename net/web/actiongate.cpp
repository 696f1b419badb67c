#include "net/web/actiongate.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace lw::web {

namespace {

bool labelChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '@' ||
           c == '-';
}

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A token put where proxies, logs and browser history keep it: a query
// parameter meant for one, or a known token anywhere in the target.
bool tokenInUrl(const Request& request, const OperatorTokens& tokens) {
    std::string_view query = request.query;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        std::string name = percentDecoded(item.substr(0, item.find('=')));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        });
        if (name == "token" || name == "access_token") return true;
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return tokens.appearsIn(request.target) || tokens.appearsIn(percentDecoded(request.target));
}

Answer refusedWith(int status, const char* text, const char* header, std::string value) {
    Answer a = textAnswer(status, text);
    a.headers.emplace_back(header, std::move(value));
    return a;
}

ActionCheck refused(Answer a) { return ActionCheck{std::move(a), {}}; }

}  // namespace

Result<OperatorTokens> OperatorTokens::parse(std::string_view text, const std::string& path) {
    using R = Result<OperatorTokens>;
    const std::string file = "the operator-token file " + path;
    OperatorTokens out;
    int lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (++lineNo > static_cast<int>(kMaxLines)) {
            return R::failure(file + " has more than " + std::to_string(kMaxLines) + " lines",
                              lineNo);
        }
        if (line.empty() || line.front() == '#') continue;
        const std::string at = file + ", line " + std::to_string(lineNo) + ": ";
        const std::size_t gap = std::min(line.find(' '), line.find('\t'));
        const std::string_view label = line.substr(0, gap);
        const std::string_view token =
            gap == std::string_view::npos ? std::string_view{} : trimmed(line.substr(gap));
        if (token.empty() || std::any_of(token.begin(), token.end(), blank)) {
            return R::failure(at + "expected a label and a token", lineNo);
        }
        if (label.size() > kMaxLabel || !std::all_of(label.begin(), label.end(), labelChar)) {
            return R::failure(at + "a label is 1 to 32 of A-Z a-z 0-9 . _ @ -", lineNo);
        }
        if (token.size() < kMinToken ||
            !std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c <= '~'; })) {
            return R::failure(at + "a token is at least 16 printable ASCII characters", lineNo);
        }
        for (const auto& [l, t] : out.m_entries) {
            if (l == label) return R::failure(at + "the label " + l + " is given twice", lineNo);
            // Said without the token, which is not to be printed anywhere.
            if (t == token) return R::failure(at + "the token of " + l + " is given again", lineNo);
        }
        out.m_entries.emplace_back(label, token);
    }
    if (out.m_entries.empty()) return R::failure(file + " holds no token");
    return R::success(std::move(out));
}

std::optional<std::string> OperatorTokens::labelFor(std::string_view token) const {
    // Every token is compared, a match or not, so the time says nothing of which.
    const std::pair<std::string, std::string>* found = nullptr;
    for (const auto& entry : m_entries) {
        if (sameSecret(token, entry.second)) found = &entry;
    }
    if (!found) return std::nullopt;
    return found->first;
}

bool OperatorTokens::appearsIn(std::string_view text) const {
    return std::any_of(m_entries.begin(), m_entries.end(), [text](const auto& e) {
        return text.find(e.second) != std::string_view::npos;
    });
}

void ActionLimiter::refill(Bucket& b, std::int64_t nowMs) {
    if (nowMs < b.since) b.since = nowMs;  // a clock set back owes nothing
    const std::int64_t earned = (nowMs - b.since) / kRefillMs;
    if (earned >= kBurst - b.tokens) {
        b.tokens = kBurst;
        b.since = nowMs;
    } else {
        b.tokens += static_cast<int>(earned);
        b.since += earned * kRefillMs;
    }
}

bool ActionLimiter::take(const std::string& label, std::int64_t nowMs) {
    auto it = m_buckets.find(label);
    if (it == m_buckets.end()) {
        if (m_buckets.size() >= m_maxLabels) {
            for (auto b = m_buckets.begin(); b != m_buckets.end();) {
                refill(b->second, nowMs);
                b = b->second.tokens == kBurst ? m_buckets.erase(b) : std::next(b);
            }
            if (m_buckets.size() >= m_maxLabels) return false;
        }
        it = m_buckets.emplace(label, Bucket{kBurst, nowMs}).first;
    }
    Bucket& b = it->second;
    refill(b, nowMs);
    if (b.tokens == 0) return false;
    --b.tokens;
    return true;
}

ActionCheck checkAction(const Request& request, const AccessRule& rule,
                        const OperatorTokens& tokens, ActionLimiter& limiter, std::int64_t nowMs) {
    if (request.method != "POST") {
        return refused(refusedWith(405, "Actions are POST only", "Allow", "POST"));
    }
    if (tokenInUrl(request, tokens)) {
        return refused(textAnswer(400, "the token goes in the Authorization header"));
    }
    const std::string_view host = request.header("host");
    if (host.empty() || !rule.hostAllowed(host)) {
        return refused(textAnswer(403, "Unknown host name"));
    }
    const std::string_view origin = request.header("origin");
    if (!origin.empty() && !sameOrigin(origin, host, rule.secure() ? "443" : "80")) {
        return refused(textAnswer(403, "Actions come from this board's own pages only"));
    }
    const std::string_view site = request.header("sec-fetch-site");
    if (!site.empty() && site != "same-origin" && site != "none") {
        return refused(textAnswer(403, "Actions come from this board's own pages only"));
    }
    const std::string_view authorization = request.header("authorization");
    std::optional<std::string> label;
    if (authorization.size() > 7 && equalsNoCase(authorization.substr(0, 7), "bearer ")) {
        label = tokens.labelFor(trimmed(authorization.substr(7)));
    }
    if (!label) {
        return refused(refusedWith(401, "An operator token is required", "WWW-Authenticate",
                                   "Bearer realm=\"linewarden\""));
    }
    const std::string_view contentType = request.header("content-type");
    const std::string_view type = trimmed(contentType.substr(0, contentType.find(';')));
    if (!equalsNoCase(type, "application/json")) {
        return refused(textAnswer(415, "Actions are sent as application/json"));
    }
    if (!limiter.take(*label, nowMs)) {
        return refused(refusedWith(429, "Too many actions: wait a moment", "Retry-After",
                                   std::to_string(ActionLimiter::kRefillMs / 1000)));
    }
    return ActionCheck{std::nullopt, std::move(*label)};
}

}  // namespace lw::web
