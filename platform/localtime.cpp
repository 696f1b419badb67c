#include "platform/localtime.h"

#include <QDateTime>

namespace lw {

LocalTime::LocalTime(Clock now, OffsetAt offsetAt)
    : m_now(std::move(now)), m_offsetAt(std::move(offsetAt)) {
    if (!m_now) m_now = [] { return std::chrono::system_clock::now(); };
    if (!m_offsetAt) {
        m_offsetAt = [](std::chrono::sys_seconds at) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(at.time_since_epoch().count());
            return std::chrono::seconds(local.offsetFromUtc());
        };
    }
}

CivilTime LocalTime::now() { return at(std::chrono::floor<std::chrono::milliseconds>(m_now())); }

CivilTime LocalTime::at(std::chrono::sys_time<std::chrono::milliseconds> utc) {
    using namespace std::chrono;
    const auto minute = floor<minutes>(utc);
    if (!m_known || minute != m_minute) {
        m_minute = minute;
        m_offset = m_offsetAt(m_minute);
        m_known = true;
    }
    static constexpr CivilTime kEpoch{1970, 1, 1, 0, 0, 0, 0};
    return addMilliseconds(kEpoch, (utc + m_offset).time_since_epoch().count());
}

ZonedTime LocalTime::zoned() {
    const CivilTime local = now();  // sets the offset for this minute
    return {local, static_cast<int>(m_offset.count() / 60)};
}

TimeSource::Stamp LocalTime::stamp() {
    using namespace std::chrono;
    const auto utc = floor<milliseconds>(m_now());
    // Nine clock ticks in ten fall in the second the texts were made for.
    const auto second = floor<seconds>(utc);
    if (!m_stampKnown || second != m_stampSecond) {
        const CivilTime t = at(utc);
        m_stamp = stampOf(lw::timeText(t), lw::dateText(t));
        m_stampSecond = second;
        m_stampKnown = true;
    }
    return m_stamp;
}

std::optional<std::chrono::milliseconds> LocalTime::untilNextSecond() {
    using namespace std::chrono;
    if (!m_stampKnown) return std::nullopt;
    // Zone offsets are whole minutes: the local seconds turn with UTC's.
    const auto left = m_stampSecond + seconds(1) - floor<milliseconds>(m_now());
    return left > milliseconds::zero() ? left : milliseconds::zero();
}

}  // namespace lw
