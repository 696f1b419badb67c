#include "core/timetext.h"

#include <chrono>

#include "core/textutil.h"

namespace lw {

std::optional<CivilTime> parseIsoLocal(std::string_view s) {
    if (s.size() != 19 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':') {
        return std::nullopt;
    }
    CivilTime t;
    if (!parseDecimal(s.substr(0, 4), t.year) || !parseDecimal(s.substr(5, 2), t.month) ||
        !parseDecimal(s.substr(8, 2), t.day) || !parseDecimal(s.substr(11, 2), t.hour) ||
        !parseDecimal(s.substr(14, 2), t.minute) || !parseDecimal(s.substr(17, 2), t.second)) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day ymd{year{t.year}, month{static_cast<unsigned>(t.month)},
                             day{static_cast<unsigned>(t.day)}};
    if (!ymd.ok() || t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
    return t;
}

CivilTime addMilliseconds(const CivilTime& t, std::int64_t ms) {
    using namespace std::chrono;
    const sys_days base = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                         day{static_cast<unsigned>(t.day)}};
    const auto tp = base + hours{t.hour} + minutes{t.minute} + seconds{t.second} +
                    milliseconds{t.millisecond} + milliseconds{ms};
    const auto dayStart = floor<days>(tp);
    const year_month_day ymd{dayStart};
    const hh_mm_ss hms{floor<milliseconds>(tp - dayStart)};
    CivilTime r;
    r.year = static_cast<int>(ymd.year());
    r.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    r.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    r.hour = static_cast<int>(hms.hours().count());
    r.minute = static_cast<int>(hms.minutes().count());
    r.second = static_cast<int>(hms.seconds().count());
    r.millisecond = static_cast<int>(hms.subseconds().count());
    return r;
}

std::string timeText(const CivilTime& t) {
    const int h12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    return std::to_string(h12) + ':' + twoDigits(t.minute) + ':' + twoDigits(t.second) +
           (t.hour < 12 ? " AM" : " PM");
}

std::string isoText(const ZonedTime& z) {
    const CivilTime& t = z.local;
    std::string year = std::to_string(t.year);
    if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
    const int off = z.offsetMinutes < 0 ? -z.offsetMinutes : z.offsetMinutes;
    return year + '-' + twoDigits(t.month) + '-' + twoDigits(t.day) + 'T' + twoDigits(t.hour) +
           ':' + twoDigits(t.minute) + ':' + twoDigits(t.second) +
           (z.offsetMinutes < 0 ? '-' : '+') + twoDigits(off / 60) + ':' + twoDigits(off % 60);
}

ZonedTime addZonedMilliseconds(const ZonedTime& t, std::int64_t ms) {
    return {addMilliseconds(t.local, ms), t.offsetMinutes};
}

std::string dateText(const CivilTime& t) {
    return std::to_string(t.month) + '/' + std::to_string(t.day) + '/' + std::to_string(t.year);
}

}  // namespace lw
