#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

struct UnitBoard;
struct UnitSlot;

// JSON string body for Latin-1 bytes: quote and backslash escaped, control
// characters and bytes above 0x7E as \u00XX.
std::string jsonEscape(std::string_view bytes);

// One unit: {"name":..,"status":..,"clock":..,"panel":..,"lamp":..}.
std::string unitJson(const UnitSlot& slot);

// One board line, ended by a line feed:
// {"tick":K,"t":MS,"remote":..,"noise":..,"beeps":N,"units":[..]}; with a
// port state ("open", "lost", "closed") it ends in ,"port":"..." instead.
std::string boardJson(std::uint64_t tick, std::int64_t t, const UnitBoard& board,
                      std::uint64_t beeps, std::string_view port = {});

// One activity record: {"seq":N,"time":T,"date":D,"text":R}, no line feed.
std::string recordJson(std::uint64_t seq, std::string_view timeText, std::string_view dateText,
                       std::string_view text);

}  // namespace lw

namespace lw {

// What the web board's WebSocket sends: {"board":B,"records":R}, the board
// object and a records array as they are, with ,"first":true on the first
// message a client gets.
std::string liveBoardJson(std::string_view board, std::string_view records, bool first);

// A JSON array of JSON values as they are.
std::string jsonArray(const std::vector<std::string_view>& items);

}  // namespace lw
