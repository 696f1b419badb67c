#pragma once

#include <string>
#include <string_view>

namespace lw {
struct UnitBoard;
struct UnitSlot;
}  // namespace lw

// The bodies of the retained topics. Thin on purpose: the documents
// themselves are built in the core, these only choose which one goes where.
namespace lw::mqtt {

// unit/N: {"name":..,"status":..,"clock":..,"panel":..,"lamp":..}
std::string unitPayload(const UnitSlot& slot);

// bus: {"remote":BOOL,"noise":BOOL,"port":"open"|"lost"|"closed"}
std::string busPayload(const UnitBoard& board, std::string_view port);

// online: "1" while the service publishes, "0" once it stopped or died (the will).
inline constexpr std::string_view kOnline = "1";
inline constexpr std::string_view kOffline = "0";

}  // namespace lw::mqtt
