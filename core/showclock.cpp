#include "core/showclock.h"

#include "core/textutil.h"

namespace lw {

void clockReset(UnitSlot& s) {
    s.clockhours = 0;
    s.clockminutes = 0;
    s.clockseconds = 0;
}

void clockStart(UnitSlot& s) {
    if (!s.clockrunning) s.clock = "0:00:00";
    s.clockrunning = true;
}

void clockResume(UnitSlot& s) { s.clockrunning = true; }

void clockStop(UnitSlot& s) { s.clockrunning = false; }

void clockBlank(UnitSlot& s) {
    s.clockrunning = false;
    s.clock = " ";
    clockReset(s);
}

std::string formatClock(std::int64_t hours, int minutes, int seconds) {
    std::string out = std::to_string(hours);
    out += ':';
    out += twoDigits(minutes);
    out += ':';
    out += twoDigits(seconds);
    return out;
}

bool clockTick(UnitBoard& board, std::string_view seconds) {
    if (seconds == board.lastsecond) return false;
    board.lastsecond = std::string(seconds);
    for (UnitSlot& s : board.slots) {
        if (!s.clockrunning) continue;
        if (++s.clockseconds > 59) {
            s.clockseconds = 0;
            ++s.clockminutes;
        }
        if (s.clockminutes > 59) {
            s.clockminutes = 0;
            ++s.clockhours;
        }
        s.clock = formatClock(s.clockhours, s.clockminutes, s.clockseconds);
    }
    return true;
}

void blinkTick(UnitBoard& board) { board.blinkphase = !board.blinkphase; }

int ticksUntilNextSecond(std::optional<std::chrono::milliseconds> untilNext,
                         std::chrono::milliseconds tick) {
    if (!untilNext || tick.count() <= 0 || *untilNext <= tick) return 1;
    // A tick that lands on the change itself already reads the new second.
    const auto n = (untilNext->count() + tick.count() - 1) / tick.count();
    return n > 1000 ? 1000 : static_cast<int>(n);
}

}  // namespace lw
