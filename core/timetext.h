#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/timesource.h"

namespace lw {

// A local wall-clock instant, no time zone attached.
struct CivilTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    friend bool operator==(const CivilTime&, const CivilTime&) = default;
};

// "YYYY-MM-DDTHH:MM:SS", a real calendar date and time.
std::optional<CivilTime> parseIsoLocal(std::string_view text);
CivilTime addMilliseconds(const CivilTime& t, std::int64_t ms);

std::string timeText(const CivilTime& t);  // "10:15:07 PM"
std::string dateText(const CivilTime& t);  // "3/1/2002"

// A time source that stands still until told to move: for replays and tests.
class ManualTime final : public TimeSource {
public:
    explicit ManualTime(CivilTime start) : m_start(start), m_now(start) {}

    void setOffset(std::int64_t ms) { m_now = addMilliseconds(m_start, ms); }
    void advance(std::int64_t ms) { m_now = addMilliseconds(m_now, ms); }
    const CivilTime& now() const { return m_now; }

    Stamp stamp() override { return stampOf(lw::timeText(m_now), lw::dateText(m_now)); }
    std::optional<std::chrono::milliseconds> untilNextSecond() override {
        return std::chrono::milliseconds(1000 - m_now.millisecond);
    }

private:
    CivilTime m_start;
    CivilTime m_now;
};

}  // namespace lw
