#pragma once

#include "core/beeper.h"

namespace lw::gui {

// The platform's default alert sound.
class AlertBeeper final : public Beeper {
public:
    void beep() override;
};

}  // namespace lw::gui
