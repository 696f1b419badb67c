#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/timesource.h"

namespace lw {

// "YYYY-MM-DDTHH:MM:SS", a real calendar date and time.
std::optional<CivilTime> parseIsoLocal(std::string_view text);
CivilTime addMilliseconds(const CivilTime& t, std::int64_t ms);

std::string timeText(const CivilTime& t);  // "10:15:07 PM"
std::string dateText(const CivilTime& t);  // "3/1/2002"

// ISO 8601 to the second with the offset: "2002-03-01T22:15:07+01:00".
std::string isoText(const ZonedTime& t);
// The same instant `ms` later (earlier when negative), in the same zone.
ZonedTime addZonedMilliseconds(const ZonedTime& t, std::int64_t ms);

// A time source that stands still until told to move: for replays and tests.
class ManualTime final : public TimeSource {
public:
    // The zone is UTC unless told otherwise: a capture's times carry none.
    explicit ManualTime(CivilTime start, int offsetMinutes = 0)
        : m_start(start), m_now(start), m_offsetMinutes(offsetMinutes) {}

    void setOffset(std::int64_t ms) { m_now = addMilliseconds(m_start, ms); }
    void advance(std::int64_t ms) { m_now = addMilliseconds(m_now, ms); }
    const CivilTime& now() const { return m_now; }

    Stamp stamp() override { return stampOf(lw::timeText(m_now), lw::dateText(m_now)); }
    ZonedTime zoned() override { return {m_now, m_offsetMinutes}; }
    std::optional<std::chrono::milliseconds> untilNextSecond() override {
        return std::chrono::milliseconds(1000 - m_now.millisecond);
    }

private:
    CivilTime m_start;
    CivilTime m_now;
    int m_offsetMinutes = 0;
};

}  // namespace lw
