#include "core/unitdisplay.h"

#include "core/beeper.h"
#include "core/showclock.h"

namespace lw {

namespace {

enum class Row { NotThere, Start, NoFilm, FilmIn, ShowEnding, ShowRun, Fail, Unknown };

struct Decoded {
    Row row;
    bool interlock;
};

Decoded classify(std::string_view s) {
    constexpr std::string_view kInt = status::interlock;
    const bool interlock = s.size() > kInt.size() && s.ends_with(kInt);
    const std::string_view base = interlock ? s.substr(0, s.size() - kInt.size()) : s;
    if (base == status::notThere && !interlock) return {Row::NotThere, false};
    if (base == status::start) return {Row::Start, interlock};
    if (base == status::noFilm) return {Row::NoFilm, interlock};
    if (base == status::filmIn) return {Row::FilmIn, interlock};
    if (base == status::showEnding) return {Row::ShowEnding, interlock};
    if (base == status::showRun) return {Row::ShowRun, interlock};
    if (base == status::fail) return {Row::Fail, interlock};
    return {Row::Unknown, false};
}

void raise(const SlotContext& ctx, ReportKind kind, const UnitSlot& s) {
    ReportPieces p;
    p.name = s.name;
    p.clock = s.clock;
    p.cause = s.failcause;
    p.buffer = ctx.busbuffer;
    p.unit = ctx.unit;
    ctx.reports.report(kind, ctx.timeText, ctx.dateText, p);
}

void lamps(UnitSlot& s, Colour panel, Colour lamp, bool interlock) {
    s.panel = panel;
    s.lamp = interlock ? colours::blue : lamp;
}

// The stop rows share one shape: text, report if the show ran, stop, lamps.
void stopRow(UnitSlot& s, const SlotContext& ctx, const char* text, ReportKind plain,
             ReportKind interlocked, bool interlock, Colour panel, Colour lamp) {
    s.status = text;
    if (s.clockrunning) raise(ctx, interlock ? interlocked : plain, s);
    clockStop(s);
    lamps(s, panel, lamp, interlock);
}

UnitState stateOf(Row row) {
    switch (row) {
        case Row::Start:
            return UnitState::Starting;
        case Row::NoFilm:
            return UnitState::NoFilm;
        case Row::FilmIn:
            return UnitState::Ready;
        case Row::ShowEnding:
            return UnitState::Closing;
        case Row::ShowRun:
            return UnitState::Running;
        case Row::Fail:
            return UnitState::Failed;
        case Row::NotThere:
        case Row::Unknown:
            break;
    }
    return UnitState::Absent;
}

}  // namespace

void updateUnitSlot(UnitSlot& s, const SlotContext& ctx) {
    const Decoded d = classify(s.unitstatus);
    s.state = stateOf(d.row);
    s.interlock = d.interlock;
    switch (d.row) {
        case Row::NotThere:
        case Row::Unknown:
            clockBlank(s);
            s.status = " ";
            lamps(s, colours::black, colours::black, false);
            break;
        case Row::Start: {
            const bool fresh = s.status != "STARTING" && s.status != "CLOSING";
            if (fresh) {
                clockReset(s);
                raise(ctx, d.interlock ? ReportKind::StartedInterlock : ReportKind::Started, s);
            }
            s.status = "STARTING";
            lamps(s, colours::darkGreen, colours::green, d.interlock);
            clockStart(s);
            break;
        }
        case Row::NoFilm:
            stopRow(s, ctx, "NO FILM", ReportKind::FeatureEnded, ReportKind::FeatureEndedInterlock,
                    d.interlock, colours::black, colours::black);
            break;
        case Row::FilmIn:
            stopRow(s, ctx, "READY", ReportKind::StoppedReady, ReportKind::StoppedReadyInterlock,
                    d.interlock, colours::red, colours::red);
            break;
        case Row::ShowEnding:
            s.status = "CLOSING";
            lamps(s, colours::darkGreen, colours::green, d.interlock);
            break;
        case Row::ShowRun:
            s.status = "SHOW RUN";
            lamps(s, colours::green, colours::green, d.interlock);
            clockResume(s);
            break;
        case Row::Fail:
            s.status = "HELP ME";
            if (s.clockrunning) {
                raise(ctx, d.interlock ? ReportKind::FailedInterlock : ReportKind::Failed, s);
            }
            ctx.beeper.beep();
            clockStop(s);
            if (ctx.blinkphase) {
                s.panel = colours::red;
                s.lamp = d.interlock ? colours::blue : colours::green;
            } else {
                s.panel = colours::green;
                s.lamp = colours::red;
            }
            break;
    }
}

}  // namespace lw
