#include "service/mqtt/payloads.h"

#include "core/contractjson.h"

namespace lw::mqtt {

std::optional<std::string> eventPayload(const BoardEvent& event) {
    if (event.kind == EventKind::LogFailed) return std::nullopt;
    return eventJson(event);
}

}  // namespace lw::mqtt
