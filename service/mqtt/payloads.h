#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lw {
struct BoardEvent;
}  // namespace lw

// The bodies of the topics. Thin on purpose: the documents themselves are
// built in the core (unit, bus and event in core/contractjson.h), these only
// choose which one goes where.
namespace lw::mqtt {

// event: one unit or bus event; nothing for the service's own (log_failed),
// which is the web board's.
std::optional<std::string> eventPayload(const BoardEvent& event);

// online: "1" while the service publishes, "0" once it stopped or died (the will).
inline constexpr std::string_view kOnline = "1";
inline constexpr std::string_view kOffline = "0";

}  // namespace lw::mqtt
