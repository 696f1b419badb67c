#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>

namespace lw {

class SerialPortOps;

inline constexpr int kScannedPorts = 16;
// The detection listens on each port for kDwellTicks ticks of its dwell
// clock; the progress window moves its bar every kProgressTick meanwhile.
inline constexpr int kDwellTicks = 3;
inline constexpr std::chrono::milliseconds kDwellTick{500};
inline constexpr std::chrono::milliseconds kProgressTick{400};

// Finding the master remote box: which ports open, then which one carries a
// "T" at 4800 and then at 1200 baud. The last hit wins.
class MasterDetection {
public:
    struct Outcome {
        std::string baud;  // empty when nothing was heard
        int port = 0;
        bool cancelled = false;
    };

    // Marks every port 1..16 that can be opened; marks are never cleared.
    void scanports(SerialPortOps& port);

    // `dwell` lets the opened port listen (between 1 and 1.5 s in the
    // program) and returns false when the detection is called off. A marked
    // port that no longer opens gives no hit. `slowHit` runs on every hit at
    // 1200 baud, as it happens.
    Outcome probemaster(SerialPortOps& port, const std::function<bool()>& dwell,
                        const std::function<void()>& slowHit = {});

    std::array<int, kScannedPorts + 1> portok{};
};

// The progress window's animation: 2, 4, ... 98, then 85 to 99 over and over;
// the bar never shows 100.
void progressTick(int& progbar, int& barValue);

}  // namespace lw
