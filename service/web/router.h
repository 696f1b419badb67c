#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "service/web/accessrule.h"
#include "service/web/requestparser.h"

namespace lw::service::web {

// What the board shows, as the handlers read it.
class BoardSource {
public:
    virtual ~BoardSource() = default;
    virtual std::string boardJson() const = 0;
    // Records above `seq`, at most the `max` latest, as a JSON array.
    virtual std::string recordsJson(std::uint64_t seq, std::size_t max) const = 0;
    virtual const std::string& page() const = 0;
};

// One answer to one request.
struct Answer {
    int status = 200;
    std::string type;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // beyond the usual ones
    bool webSocket = false;  // 101 to come: the WebSocket side answers
};

inline constexpr std::size_t kMaxRecordsAnswered = 500;

// GET / (the page), /api/board, /api/records?after=SEQ and the WebSocket
// /ws; nothing but GET, nothing from the file system. Refusals are short
// texts. An allowed WebSocket upgrade gets an Answer with webSocket set.
Answer route(const Request& request, const AccessRule& rule, const BoardSource& source);

// A refusal of the head itself (400, 431) or of the connection (503).
Answer refusal(int status);

// The answer on the wire, "Connection: close" when `close`.
std::string responseBytes(const Answer& answer, bool close);

}  // namespace lw::service::web
