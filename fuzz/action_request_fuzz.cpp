// The operator actions' edge: a request, its body split off as the
// connection would, through the action gate, and the same bytes as an
// operator-token file. An allowed action always names a known operator
// whose token came in the Authorization header alone, from no foreign page;
// a refusal is always one of the gate's 4xx; an operator's burst ends in 429;
// a token file read is one whose every line gives its label back.
//
// Input: one byte picks the rule (bit 0: a read token, bit 1: HTTPS), then
// the request bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "net/web/actiongate.h"

using namespace lw::web;

namespace {

constexpr std::string_view kOperators = "alice s3cret-alice-token-1\nbob s3cret-bob-token-22\n";

const OperatorTokens& operators() {
    static const OperatorTokens tokens = OperatorTokens::parse(kOperators, "operators").value;
    return tokens;
}

bool hasHeader(const Answer& a, std::string_view name) {
    for (const auto& [n, v] : a.headers) {
        if (n == name && !v.empty()) return true;
    }
    return false;
}

void checkTokenFile(std::string_view text) {
    const auto r = OperatorTokens::parse(text, "fuzz");
    if (!r.ok) {
        LW_FUZZ_CHECK(r.error.starts_with("the operator-token file fuzz"));
        LW_FUZZ_CHECK(r.error.find_first_of("\r\n") == std::string::npos);
        return;
    }
    LW_FUZZ_CHECK(r.value.size() >= 1 && r.value.size() <= OperatorTokens::kMaxLines);
    // Every line that is not a comment gives its label back for its token.
    std::size_t lines = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') continue;
        const std::size_t gap = line.find_first_of(" \t");
        LW_FUZZ_CHECK(gap != std::string_view::npos);
        std::string_view token = line.substr(gap);
        while (token.front() == ' ' || token.front() == '\t') token.remove_prefix(1);
        LW_FUZZ_CHECK(r.value.labelFor(token) == std::string(line.substr(0, gap)));
        ++lines;
    }
    LW_FUZZ_CHECK(lines == r.value.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    checkTokenFile(bytes);

    ParseResult p = parseRequestHead(bytes);
    if (p.outcome != ParseResult::Outcome::Complete) return 0;
    Request& req = p.request;
    const BodyLength body = bodyLength(req);
    if (body.refused != 0) {
        LW_FUZZ_CHECK(req.method == "POST" &&
                      (body.refused == 411 || body.refused == 413 || body.refused == 400));
        return 0;
    }
    LW_FUZZ_CHECK(body.length <= kMaxBody);
    if (bytes.size() - p.size < body.length) return 0;  // the connection would wait for the rest
    req.body.assign(bytes.substr(p.size, body.length));

    const AccessRule rule((data[0] & 1) != 0 ? "r3ad-token-for-all" : "", "127.0.0.1",
                          (data[0] & 2) != 0);
    ActionLimiter limiter;
    const ActionCheck c = checkAction(req, rule, operators(), limiter, 0);
    if (c.refused) {
        const int s = c.refused->status;
        LW_FUZZ_CHECK(c.label.empty());
        LW_FUZZ_CHECK(s == 400 || s == 401 || s == 403 || s == 405 || s == 415);
        LW_FUZZ_CHECK((s == 405) == (req.method != "POST"));
        if (s == 405) LW_FUZZ_CHECK(hasHeader(*c.refused, "Allow"));
        if (s == 401) LW_FUZZ_CHECK(hasHeader(*c.refused, "WWW-Authenticate"));
        return 0;
    }
    LW_FUZZ_CHECK(c.label == "alice" || c.label == "bob");
    LW_FUZZ_CHECK(req.method == "POST");
    const std::string token = c.label == "alice" ? "s3cret-alice-token-1" : "s3cret-bob-token-22";
    LW_FUZZ_CHECK(req.header("authorization").find(token) != std::string_view::npos);
    LW_FUZZ_CHECK(req.target.find(token) == std::string::npos);
    LW_FUZZ_CHECK(!req.header("host").empty());
    const std::string_view origin = req.header("origin");
    LW_FUZZ_CHECK(origin.empty() ||
                  sameOrigin(origin, req.header("host"), (data[0] & 2) ? "443" : "80"));

    // The same operator at the same moment: the rest of the burst, then 429.
    for (int i = 1; i < ActionLimiter::kBurst; ++i) {
        LW_FUZZ_CHECK(!checkAction(req, rule, operators(), limiter, 0).refused);
    }
    const ActionCheck over = checkAction(req, rule, operators(), limiter, 0);
    LW_FUZZ_CHECK(over.refused && over.refused->status == 429 &&
                  hasHeader(*over.refused, "Retry-After"));

    // What the body says is the hub's to read: alarm_action_fuzz.cpp.
    return 0;
}
