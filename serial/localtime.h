#pragma once

#include "core/timesource.h"

namespace lw {

// The local wall clock in the monitor's formats ("10:15:07 PM", "3/1/2002").
class LocalTime final : public TimeSource {
public:
    Stamp stamp() override;
};

}  // namespace lw
