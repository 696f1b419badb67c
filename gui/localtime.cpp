#include "gui/localtime.h"

#include <QDateTime>

#include "core/textutil.h"
#include "core/timetext.h"

namespace lw::gui {

namespace {
CivilTime nowCivil() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}
}  // namespace

std::string LocalTime::timeText() { return lw::timeText(nowCivil()); }
std::string LocalTime::dateText() { return lw::dateText(nowCivil()); }
TimeSource::Stamp LocalTime::stamp() {
    const CivilTime now = nowCivil();
    return {lw::timeText(now), lw::dateText(now)};
}

std::string LocalTime::secondsText() { return twoDigits(QTime::currentTime().second()); }

}  // namespace lw::gui
