// The request-head parser: never reads past what it was given; a whole head
// reads the same on its own and with more bytes after it; a prefix of a whole
// head is never taken for a different request.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "net/web/requestparser.h"

using namespace lw::web;
using Outcome = ParseResult::Outcome;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ParseResult r = parseRequestHead(bytes);
    if (r.outcome == Outcome::Refused) {
        LW_FUZZ_CHECK(r.status == 400 || r.status == 431);
        return 0;
    }
    if (r.outcome == Outcome::NeedMore) {
        LW_FUZZ_CHECK(size <= kMaxHead);
        return 0;
    }
    LW_FUZZ_CHECK(r.size > 0 && r.size <= size && r.size <= kMaxHead);
    const Request& req = r.request;
    LW_FUZZ_CHECK(!req.method.empty() && req.method.size() <= 16);
    LW_FUZZ_CHECK(req.path.starts_with('/'));
    LW_FUZZ_CHECK(req.headers.size() <= kMaxHeaders);
    for (const auto& [name, value] : req.headers) {
        LW_FUZZ_CHECK(!name.empty() && name.find_first_of("\r\n:") == std::string_view::npos);
        LW_FUZZ_CHECK(value.find_first_of("\r\n") == std::string_view::npos);
    }
    const ParseResult alone = parseRequestHead(bytes.substr(0, r.size));
    LW_FUZZ_CHECK(alone.outcome == Outcome::Complete && alone.size == r.size &&
                  alone.request.target == req.target && alone.request.headers == req.headers);
    const ParseResult shorter = parseRequestHead(bytes.substr(0, r.size - 1));
    LW_FUZZ_CHECK(shorter.outcome != Outcome::Complete || shorter.size < r.size);
    return 0;
}
