#pragma once

#include <string>

#include "core/unitcontract.h"

namespace lw {

// The contract's documents as JSON. Times are ISO 8601 with the UTC offset;
// "at" says when a document was made; an absent value is null.

// The contract fields of one unit without braces:
// "unit":N,"name":..,"state":..,"interlock":..,"cause":..,"words":..,"clock":..,
// "since":..,"show_started":.. (name and clock left out when `nameAndClock`
// is false, for a board entry that has them already).
std::string unitFields(const UnitView& unit, bool nameAndClock = true);

// {<unit fields>,"at":..}: one unit, e.g. a retained MQTT message.
std::string unitDocJson(const UnitView& unit, const ZonedTime& at);

// {"remote":..,"noise":..,"port":..,"port_since":..,"at":..}
std::string busDocJson(const BusView& bus, const ZonedTime& at);

// {"kind":..,"unit":..,"name":..,"interlock":..,"cause":..,"clock":..,"at":..,"seq":..};
// unit, name, cause and clock are null for a bus event; a log_failed event
// adds "text".
std::string eventJson(const BoardEvent& event);

}  // namespace lw
