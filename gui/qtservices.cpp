#include "gui/qtservices.h"

#include <QApplication>
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

void AlertBeeper::beep() { QApplication::beep(); }

QColor toQColor(const Colour& c, const QPalette& p) {
    switch (c.system) {
        case SystemColour::None:
            return QColor(c.r, c.g, c.b);
        case SystemColour::WindowText:
            return p.color(QPalette::WindowText);
        case SystemColour::Highlight:
            return p.color(QPalette::Highlight);
        case SystemColour::Window:
            return p.color(QPalette::Window);
        case SystemColour::WindowFrame:
            return p.color(QPalette::WindowText);
        case SystemColour::CaptionText:
            return p.color(QPalette::HighlightedText);
        case SystemColour::HighlightText:
            return p.color(QPalette::HighlightedText);
        case SystemColour::ButtonText:
            return p.color(QPalette::ButtonText);
    }
    return {};
}

}  // namespace lw::gui
