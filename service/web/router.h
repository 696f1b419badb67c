#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/web/accessrule.h"
#include "net/web/answer.h"
#include "net/web/requestparser.h"

namespace lw::service::web {

// The web edge's pieces (net/web) by their short names.
using namespace lw::web;

// What the board shows, as the handlers read it.
class BoardSource {
public:
    virtual ~BoardSource() = default;
    virtual std::string boardJson() const = 0;
    // Records above `seq`, at most the `max` latest, as a JSON array.
    virtual std::string recordsJson(std::uint64_t seq, std::size_t max) const = 0;
    virtual const std::string& page() const = 0;
    // False: the page, the API and the WebSocket are not served (--no-board).
    virtual bool boardServed() const { return true; }
    // Prometheus' text for /metrics, or nothing when it is not served.
    virtual std::optional<std::string> metrics() const { return std::nullopt; }
};

inline constexpr std::size_t kMaxRecordsAnswered = 500;

// GET / (the page), /api/board, /api/records?after=SEQ, the WebSocket /ws
// and /metrics, each when the source serves it; nothing but GET, nothing from the file system. Refusals are short
// texts. An allowed WebSocket upgrade gets an Answer with webSocket set.
Answer route(const Request& request, const AccessRule& rule, const BoardSource& source);

}  // namespace lw::service::web
