#pragma once

#include <QColor>
#include <QPalette>

#include "core/colour.h"
#include "core/monitorio.h"

namespace lw::gui {

// The local wall clock in the monitor's formats ("10:15:07 PM", "3/1/2002").
class LocalTime final : public TimeSource {
public:
    std::string timeText() override;
    std::string dateText() override;
    std::string secondsText() override;
    Stamp stamp() override;
};

// The platform's default alert sound.
class AlertBeeper final : public Beeper {
public:
    void beep() override;
};

QColor toQColor(const Colour& c, const QPalette& palette);

}  // namespace lw::gui
