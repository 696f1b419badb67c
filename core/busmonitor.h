#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/reports.h"
#include "core/unitboard.h"

namespace lw {

class BusInput;
class Beeper;
class TimeSource;

inline constexpr std::size_t kRawBlockLimit = 900;

// Everything the monitor reaches outside itself, handed in by its owner.
struct MonitorDeps {
    TimeSource& time;
    BusInput& port;
    Beeper& beeper;
    EventReports& reports;
    std::function<std::string()> versionChoice;         // the software version choice
    std::function<void(std::string_view)> rawOut = {};  // the raw data window's backlog
};

// The decoder's own state, carried from tick to tick.
struct DecoderState {
    std::string busbuffer;
    std::string rawlog;
    int quietticks = 0;
    int remoteticks = 0;
    int noiseticks = 0;
};

// The bus monitor: decodes the bus every tick into the board model, runs the
// show clocks and the blink phase, and raises the activity reports.
class BusMonitor {
public:
    explicit BusMonitor(MonitorDeps deps);

    // The board's load: tables, every slot absent, one tick with whatever the
    // port says (closed at load).
    void load();

    void decoderTick();
    void clockTick();
    void blinkTick();

    UnitBoard& board() { return m_board; }
    const UnitBoard& board() const { return m_board; }
    DecoderState& decoder() { return m_dec; }
    const DecoderState& decoder() const { return m_dec; }

private:
    void fillTables();
    void decodeFrames(std::array<int, kSlots>& codeAt) const;
    void panic(std::string_view t, std::string_view d);

    MonitorDeps m_deps;
    UnitBoard m_board;
    DecoderState m_dec;

    std::array<signed char, 256> m_slotOf{};  // address byte -> slot index, or -1
    std::array<bool, 256> m_isTag{};
};

}  // namespace lw
