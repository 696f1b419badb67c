#pragma once

namespace lw {

// The alert sound, behind an interface so tests can count beeps.
class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

}  // namespace lw
