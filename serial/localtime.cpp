#include "serial/localtime.h"

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

CivilTime LocalTime::now() {
    using namespace std::chrono;
    const auto utc = floor<milliseconds>(m_now());
    const auto minute = floor<minutes>(utc);
    if (!m_known || minute != m_minute) {
        m_minute = minute;
        m_offset = m_offsetAt(m_minute);
        m_known = true;
    }
    static constexpr CivilTime kEpoch{1970, 1, 1, 0, 0, 0, 0};
    return addMilliseconds(kEpoch, (utc + m_offset).time_since_epoch().count());
}

TimeSource::Stamp LocalTime::stamp() {
    const CivilTime t = now();
    return stampOf(lw::timeText(t), lw::dateText(t));
}

}  // namespace lw
