#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// A local instant and how far its zone is from UTC: what a machine-readable
// time needs ("2002-03-01T22:15:07+01:00").
struct ZonedTime {
    CivilTime local;
    int offsetMinutes = 0;

    friend bool operator==(const ZonedTime&, const ZonedTime&) = default;
};

// The wall clock as the monitor sees it: one instant at a time, in the
// regional formats, so no caller can pair one instant's time with another's
// date (a record made at midnight keeps its own day).
class TimeSource {
public:
    struct Stamp {
        std::string time;     // e.g. "10:15:07 PM"
        std::string date;     // e.g. "3/1/2002"
        std::string seconds;  // the time's two seconds digits, e.g. "07"
    };

    virtual ~TimeSource() = default;
    virtual Stamp stamp() = 0;
    // The same clock as a local instant with its UTC offset.
    virtual ZonedTime zoned() = 0;
    // How long from now until the seconds differ from the last stamp's;
    // nothing when this source cannot tell, and then its readers look at
    // every tick.
    virtual std::optional<std::chrono::milliseconds> untilNextSecond() { return std::nullopt; }
};

// The two seconds characters of a time-of-day text: those after the first
// colon at or after its fourth character ("9:05:07" and "21:05:07" give "07").
std::string secondsOfTime(std::string_view timeText);

// The stamp of one instant from its time and date texts.
TimeSource::Stamp stampOf(std::string timeText, std::string dateText);

}  // namespace lw
