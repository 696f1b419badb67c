#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/unitboard.h"

namespace lw {

// Show clock operations on one slot.
void clockReset(UnitSlot& s);
void clockStart(UnitSlot& s);
void clockResume(UnitSlot& s);
void clockStop(UnitSlot& s);
void clockBlank(UnitSlot& s);

// "h:mm:ss"; past 23:59:59 the hours simply go on ("24:00:00", "100:05:09").
std::string formatClock(std::int64_t hours, int minutes, int seconds);

// Advances every running clock by one second when the seconds text differs
// from the last one seen; returns whether it did.
bool clockTick(UnitBoard& board, std::string_view seconds);

void blinkTick(UnitBoard& board);

// Which clock tick from the one in hand (1: the next) is the first that can
// see the seconds change, with ticks `tick` apart and the change `untilNext`
// away. The ticks before it would only compare equal seconds, so a timer can
// sleep through them. Unknown: the next.
int ticksUntilNextSecond(std::optional<std::chrono::milliseconds> untilNext,
                         std::chrono::milliseconds tick);

}  // namespace lw
