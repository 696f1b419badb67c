#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/web/accessrule.h"
#include "net/web/requestparser.h"

// Answers of the web edge that every front end's handlers share: the answer
// itself, its bytes on the wire, and the gate each request passes first.
namespace lw::web {

// One answer to one request.
struct Answer {
    int status = 200;
    std::string type;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // beyond the usual ones
    bool webSocket = false;  // 101 to come: the WebSocket side answers
};

// A short text answer; a refusal of the head itself (400, 431) or of the
// connection (503) says its status in words.
Answer textAnswer(int status, const char* body);
Answer refusal(int status);
Answer jsonAnswer(std::string body);
// A page that loads nothing from anywhere, may talk only to its own origin
// and may not be framed.
Answer pageAnswer(std::string html);

// Nothing but GET, then the access rule; an allowed upgrade to `wsPath` gets
// an Answer with webSocket set, any other upgrade a refusal. nullopt: the
// request goes on to the handlers.
std::optional<Answer> gate(const Request& request, const AccessRule& rule,
                           const std::string& wsPath = "/ws");

// The answer on the wire, "Connection: close" when `close`.
std::string responseBytes(const Answer& answer, bool close);

}  // namespace lw::web
