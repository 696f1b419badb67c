#pragma once

#include <chrono>
#include <functional>

#include "core/timesource.h"
#include "core/timetext.h"

namespace lw {

// The local wall clock in the monitor's formats ("10:15:07 PM", "3/1/2002").
// The zone's offset from UTC is looked up once per minute of UTC time rather
// than at every reading: each local conversion makes the C library look at
// the zone file again, and the board reads the clock ten times a second. A
// new zone shows from the next minute on; daylight saving time begins and
// ends on a whole minute, so it shows at the very minute it changes.
class LocalTime final : public TimeSource {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    // Local time minus UTC at an instant.
    using OffsetAt = std::function<std::chrono::seconds(std::chrono::sys_seconds)>;

    // By default the system clock and the system's time zone.
    explicit LocalTime(Clock now = {}, OffsetAt offsetAt = {});

    Stamp stamp() override;
    ZonedTime zoned() override;
    std::optional<std::chrono::milliseconds> untilNextSecond() override;
    CivilTime now();

private:
    CivilTime at(std::chrono::sys_time<std::chrono::milliseconds> utc);

    Clock m_now;
    OffsetAt m_offsetAt;
    std::chrono::sys_seconds m_minute{};  // the UTC minute m_offset holds for
    std::chrono::seconds m_offset{};
    bool m_known = false;
    Stamp m_stamp;  // the texts of the UTC second m_stampSecond
    std::chrono::sys_seconds m_stampSecond{};
    bool m_stampKnown = false;
};

}  // namespace lw
