#include "service/mqtt/payloads.h"

#include "core/boardjson.h"
#include "core/unitboard.h"

namespace lw::mqtt {

std::string unitPayload(const UnitSlot& slot) { return unitJson(slot); }

std::string busPayload(const UnitBoard& board, std::string_view port) {
    return std::string("{\"remote\":") + (board.remoteLit() ? "true" : "false") +
           ",\"noise\":" + (board.noiseLit() ? "true" : "false") + ",\"port\":\"" +
           jsonEscape(port) + "\"}";
}

}  // namespace lw::mqtt
