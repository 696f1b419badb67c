#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.h"
#include "net/web/accessrule.h"
#include "net/web/answer.h"
#include "net/web/requestparser.h"

// The gate of the operator actions, the only requests that change anything:
// who may act (a token of their own, by label), from where (this host's own
// pages or no browser at all), how often, and in what form.
namespace lw::web {

// The operators who may act: one `label token` line each, from a file
// only its owner can read. Labels name them in what is said; tokens are
// never said anywhere.
class OperatorTokens {
public:
    static constexpr std::size_t kMaxLines = 256;
    static constexpr std::size_t kMaxLabel = 32;
    static constexpr std::size_t kMinToken = 16;

    // Lines of `label token`, '#' comments and blank lines allowed; a refusal
    // is one line naming `path` and the line at fault.
    static Result<OperatorTokens> parse(std::string_view text, const std::string& path);

    // The label of `token`, compared with every token known, each in a time
    // that depends on the lengths only.
    std::optional<std::string> labelFor(std::string_view token) const;
    // Some token known appears in `text` as it is.
    bool appearsIn(std::string_view text) const;
    std::size_t size() const { return m_entries.size(); }

private:
    std::vector<std::pair<std::string, std::string>> m_entries;  // label, token
};

// A token bucket per operator: kBurst actions at once, then one more every
// kRefillMs. Holds no more buckets than it was made for: a full bucket is
// the same as none and makes room for another label.
class ActionLimiter {
public:
    static constexpr int kBurst = 30;
    static constexpr std::int64_t kRefillMs = 2000;

    explicit ActionLimiter(std::size_t maxLabels = OperatorTokens::kMaxLines)
        : m_maxLabels(maxLabels) {}

    // One action for `label` at `nowMs` (a steady clock): false when its
    // bucket is empty.
    bool take(const std::string& label, std::int64_t nowMs);
    std::size_t buckets() const { return m_buckets.size(); }

private:
    struct Bucket {
        int tokens = kBurst;
        std::int64_t since = 0;  // when the tokens were last counted
    };
    static void refill(Bucket& b, std::int64_t nowMs);

    std::size_t m_maxLabels;
    std::map<std::string, Bucket, std::less<>> m_buckets;
};

// An action request's verdict: a refusal, or the label of who asked.
struct ActionCheck {
    std::optional<Answer> refused;
    std::string label;
};

// In this order: POST only (405), no token in the URL (400), a Host of this
// rule (403), an Origin of this same host (403), a Sec-Fetch-Site of
// same-origin or none (403), `Authorization: Bearer` with an operator's
// token (401), a JSON body (415), then the operator's rate (429). Cookies
// are never read, and the rule's read token is not asked for: an operator's
// is enough. Only an allowed request takes from the operator's bucket.
ActionCheck checkAction(const Request& request, const AccessRule& rule,
                        const OperatorTokens& tokens, ActionLimiter& limiter, std::int64_t nowMs);

}  // namespace lw::web
