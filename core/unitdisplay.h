#pragma once

#include <string_view>

#include "core/reports.h"
#include "core/unitboard.h"

namespace lw {

class Beeper;

// What one slot update needs from its tick.
struct SlotContext {
    EventReports& reports;
    Beeper& beeper;
    std::string_view timeText;
    std::string_view dateText;
    std::string_view busbuffer;
    bool blinkphase = false;
    int unit = 0;  // the slot's number, for its reports
};

// Turns the slot's decoded status into its row on the board: status text,
// lamps, show clock, unit event report and alarm beep.
void updateUnitSlot(UnitSlot& slot, const SlotContext& ctx);

}  // namespace lw
