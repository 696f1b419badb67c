#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

struct BoardView;
struct UnitBoard;
struct UnitSlot;
struct UnitView;

// JSON string body for Latin-1 bytes: quote and backslash escaped, control
// characters and bytes above 0x7E as \u00XX.
std::string jsonEscape(std::string_view bytes);

// One unit of the board: its presentation
// {"name":..,"status":..,"clock":..,"panel":..,"lamp":.., then the contract's
// "unit","state","interlock","cause","words","since","show_started"}.
std::string unitJson(const UnitSlot& slot, const UnitView& view);

// One board line, ended by a line feed:
// {"tick":K,"t":MS,"remote":..,"noise":..,"beeps":N,"units":[..],
//  "port":"open"|"lost"|"closed","port_since":..,"at":..}.
std::string boardJson(std::uint64_t tick, std::int64_t t, const UnitBoard& board,
                      std::uint64_t beeps, const BoardView& view);

// One activity record: {"seq":N,"time":T,"date":D,"text":R,"at":ISO}, no line feed.
std::string recordJson(std::uint64_t seq, std::string_view timeText, std::string_view dateText,
                       std::string_view text, std::string_view at);

}  // namespace lw

namespace lw {

// What the web board's WebSocket sends: {"board":B,"records":R,"events":E},
// the board object and the records and events arrays as they are; the first
// message a client gets adds ,"site":S (a JSON string) and ,"first":true.
std::string liveBoardJson(std::string_view board, std::string_view records,
                          std::string_view events, std::string_view site, bool first);

// A JSON array of JSON values as they are.
std::string jsonArray(const std::vector<std::string_view>& items);

}  // namespace lw
