#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "core/result.h"

namespace lw {

// At most this many bytes come from the bus port in one read: a flooding
// line waits in the driver instead of growing a tick's work.
inline constexpr std::size_t kReadCap = 1024;

// The two operations the decoder tick uses on the bus port.
class BusInput {
public:
    virtual ~BusInput() = default;
    virtual bool portOpen() const = 0;
    // Bytes received since the previous read; empty when none.
    virtual std::string input() = 0;
};

// The serial port operations the program uses: select the port, set the line
// format, open or close, ask whether open, read input. A port that goes away
// while open is told once through the lost handler.
class SerialPortOps : public BusInput {
public:
    virtual Result<> setCommPort(int n) = 0;
    virtual Result<> setSettings(const std::string& text) = 0;
    virtual Result<> setPortOpen(bool open) = 0;
    virtual void setLostHandler(std::function<void(const std::string&)> handler) = 0;
};

}  // namespace lw
