#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

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

// One retained document to send again: a unit (1 to 16) or the bus (0).
struct RetainedDoc {
    int unit = 0;
    std::string json;
};

// Decides after each tick which retained documents changed their meaning: a
// unit its state, interlock, cause or name; the bus its port or master
// remote. The flash phase and the clock are no news (a consumer computes
// the clock from show_started). The first look sends them all.
class MeaningTracker {
public:
    std::vector<RetainedDoc> update(const BoardView& view);

private:
    struct UnitMeaning {
        std::string name;
        UnitState state = UnitState::Absent;
        bool interlock = false;
        std::string_view cause;
        friend bool operator==(const UnitMeaning&, const UnitMeaning&) = default;
    };
    struct BusMeaning {
        PortState port = PortState::Closed;
        bool remote = false;
        friend bool operator==(const BusMeaning&, const BusMeaning&) = default;
    };
    std::array<std::optional<UnitMeaning>, kSlots> m_units;
    std::optional<BusMeaning> m_bus;
};

}  // namespace lw
