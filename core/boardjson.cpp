#include "core/boardjson.h"

#include "core/contractjson.h"
#include "core/timetext.h"
#include "core/unitboard.h"
#include "core/unitcontract.h"

namespace lw {

std::string jsonEscape(std::string_view bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string unitJson(const UnitSlot& s, const UnitView& view) {
    return "{\"name\":\"" + jsonEscape(s.name) + "\",\"status\":\"" + jsonEscape(s.status) +
           "\",\"clock\":\"" + jsonEscape(s.clock) + "\",\"panel\":\"" + s.panel.text() +
           "\",\"lamp\":\"" + s.lamp.text() + "\"," + unitFields(view, false) + "}";
}

std::string boardJson(std::uint64_t tick, std::int64_t t, const UnitBoard& board,
                      std::uint64_t beeps, const BoardView& view) {
    std::string out = "{\"tick\":" + std::to_string(tick) + ",\"t\":" + std::to_string(t) +
                      ",\"remote\":" + (board.remoteLit() ? "true" : "false") +
                      ",\"noise\":" + (board.noiseLit() ? "true" : "false") +
                      ",\"beeps\":" + std::to_string(beeps) + ",\"units\":[";
    for (std::size_t i = 0; i < board.slots.size(); ++i) {
        if (i > 0) out += ',';
        out += unitJson(board.slots[i], view.units[i]);
    }
    out += "],\"port\":\"";
    out += portName(view.bus.port);
    out += "\",\"port_since\":\"" + isoText(view.bus.portSince) + "\",\"at\":\"" +
           isoText(view.at) + "\"}\n";
    return out;
}

std::string recordJson(std::uint64_t seq, std::string_view timeText, std::string_view dateText,
                       std::string_view text, std::string_view at) {
    std::string out = "{\"seq\":" + std::to_string(seq) + ",\"time\":\"" + jsonEscape(timeText) +
                      "\",\"date\":\"" + jsonEscape(dateText) + "\",\"text\":\"";
    out += jsonEscape(text);
    out += "\",\"at\":\"";
    out += jsonEscape(at);
    out += "\"}";
    return out;
}

}  // namespace lw

namespace lw {

std::string liveBoardJson(std::string_view board, std::string_view records,
                          std::string_view events, std::string_view site, bool first) {
    std::string out = "{\"board\":";
    out += board;
    out += ",\"records\":";
    out += records;
    out += ",\"events\":";
    out += events;
    if (first) {
        out += ",\"site\":";
        out += site;
        out += ",\"first\":true";
    }
    out += '}';
    return out;
}

std::string jsonArray(const std::vector<std::string_view>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        out += items[i];
    }
    out += ']';
    return out;
}

}  // namespace lw
