// The access rule and the handlers behind the parser: with a token asked
// for, nothing but a refusal goes to a request that does not carry it; an
// answer on the wire is one head, its length as said, its lines only the
// server's own headers, whatever the client sent.
//
// Input: one byte picks the rule (bit 0: a token), then the request bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "service/web/router.h"

using namespace lw::service::web;

namespace {

class FixedBoard final : public BoardSource {
public:
    std::string boardJson() const override { return "{\"tick\":1}"; }
    std::string recordsJson(std::uint64_t, std::size_t max) const override {
        return max <= kMaxRecordsAnswered ? "[]" : "";
    }
    const std::string& page() const override { return m_page; }

private:
    std::string m_page = "<!doctype html>";
};

constexpr std::string_view kToken = "s3cret-Token-value";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool withToken = (data[0] & 1) != 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const ParseResult p = parseRequestHead(bytes);
    if (p.outcome != ParseResult::Outcome::Complete) return 0;
    const AccessRule rule(withToken ? std::string(kToken) : std::string(), "127.0.0.1");
    const Answer a = route(p.request, rule, FixedBoard());
    const bool carriesToken = bytes.substr(0, p.size).find("s3cret") != std::string_view::npos ||
                              bytes.substr(0, p.size).find('%') != std::string_view::npos;
    if (withToken && !carriesToken) LW_FUZZ_CHECK(!a.webSocket && a.status >= 400);
    if (a.webSocket) {
        LW_FUZZ_CHECK(p.request.upgrade() && p.request.path == "/ws");
        return 0;
    }
    LW_FUZZ_CHECK(a.status == 200 || (a.status >= 400 && a.status < 500));
    const std::string wire = responseBytes(a, !p.request.keepAlive());
    const std::size_t end = wire.find("\r\n\r\n");
    LW_FUZZ_CHECK(end != std::string::npos && wire.size() - end - 4 == a.body.size());
    const std::string head = wire.substr(0, end);
    LW_FUZZ_CHECK(head.find("Content-Length: " + std::to_string(a.body.size()) + "\r\n") !=
                      std::string::npos ||
                  head.ends_with("Content-Length: " + std::to_string(a.body.size())));
    static const std::string_view kOwn[] = {
        "Content-Type", "Cache-Control", "X-Content-Type-Options", "Referrer-Policy", "Allow",
        "WWW-Authenticate", "Content-Security-Policy", "Content-Length", "Connection"};
    std::size_t at = head.find("\r\n");
    LW_FUZZ_CHECK(at != std::string::npos);
    while (at != std::string::npos && at < head.size()) {
        const std::size_t next = head.find("\r\n", at + 2);
        const std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        const std::string name = line.substr(0, line.find(':'));
        LW_FUZZ_CHECK(std::find(std::begin(kOwn), std::end(kOwn), name) != std::end(kOwn));
        LW_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        at = next;
    }
    return 0;
}
