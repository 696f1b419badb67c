#pragma once

#include <string>

namespace lw {

// Which records go to the activity log, and where. Check states are in force
// only when exactly 1 (a greyed box, 2, counts as off).
struct LogOptions {
    int rawdata = 0;
    int busnoise = 0;
    int unitactivity = 0;
    std::string logpath;  // UTF-8, used verbatim

    bool rawOn() const { return rawdata == 1; }
    bool noiseOn() const { return busnoise == 1; }
    bool activityOn() const { return unitactivity == 1; }
};

// The three check states as the dialog's Cancel puts them back.
struct LogOptionsSnapshot {
    int chk1 = 0;
    int chk2 = 0;
    int chk3 = 0;

    static LogOptionsSnapshot of(const LogOptions& o) {
        return {o.rawdata, o.busnoise, o.unitactivity};
    }
    void restoreInto(LogOptions& o) const {
        o.rawdata = chk1;
        o.busnoise = chk2;
        o.unitactivity = chk3;
    }
};

}  // namespace lw
