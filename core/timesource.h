#pragma once

#include <string>
#include <string_view>

namespace lw {

// The wall clock as the monitor sees it: texts in the regional formats.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual std::string timeText() = 0;  // e.g. "10:15:07 PM"
    virtual std::string dateText() = 0;  // e.g. "3/1/2002"
    // The two seconds digits of the time of day; by default taken from the
    // time text, a source that knows them directly may say so.
    virtual std::string secondsText();

    struct Stamp {
        std::string time;
        std::string date;
    };
    // Time and date of one instant, so a record made at midnight does not
    // pair one day's time with the next day's date.
    virtual Stamp stamp() { return {timeText(), dateText()}; }
};

// The two seconds characters of a time-of-day text: those after the first
// colon at or after its fourth character ("9:05:07" and "21:05:07" give "07").
std::string secondsOfTime(std::string_view timeText);

}  // namespace lw
