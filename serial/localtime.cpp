#include "serial/localtime.h"

#include <QDateTime>

#include "core/timetext.h"

namespace lw {

namespace {
CivilTime nowCivil() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}
}  // namespace

TimeSource::Stamp LocalTime::stamp() {
    const CivilTime now = nowCivil();
    return stampOf(lw::timeText(now), lw::dateText(now));
}

}  // namespace lw
