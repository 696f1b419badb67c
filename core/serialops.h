#pragma once

#include <functional>
#include <string>

#include "core/linesettings.h"
#include "core/monitorio.h"

namespace lw {

// The serial port operations the program uses: select the port, set the line
// format, open or close, ask whether open, read input. A port that goes away
// while open is told once through the lost handler.
class SerialPortOps : public BusInput {
public:
    virtual PortResult setCommPort(int n) = 0;
    virtual PortResult setSettings(const std::string& text) = 0;
    virtual PortResult setPortOpen(bool open) = 0;
    virtual void setLostHandler(std::function<void(const std::string&)> handler) = 0;
};

}  // namespace lw
