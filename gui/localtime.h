#pragma once

#include "core/timesource.h"

namespace lw::gui {

// The local wall clock in the monitor's formats ("10:15:07 PM", "3/1/2002").
class LocalTime final : public TimeSource {
public:
    std::string timeText() override;
    std::string dateText() override;
    std::string secondsText() override;
    Stamp stamp() override;
};

}  // namespace lw::gui
