#pragma once

#include <cstdint>
#include <utility>

namespace lw {

// The alert sound, behind an interface so tests can count beeps.
class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

// Counts the beeps where none can sound: a headless run, a replay, a test.
class CountingBeeper final : public Beeper {
public:
    void beep() override { ++m_count; }
    std::uint64_t count() const { return m_count; }
    // The beeps since the last take.
    std::uint64_t take() { return std::exchange(m_count, 0); }

private:
    std::uint64_t m_count = 0;
};

}  // namespace lw
