#include "core/unitcontract.h"

#include <algorithm>
#include <utility>

#include "core/timetext.h"

namespace lw {

namespace {

std::int64_t countedSeconds(const UnitSlot& s) {
    return s.clockhours * 3600 + s.clockminutes * 60 + s.clockseconds;
}

std::string_view causeOf(const UnitSlot& s) {
    if (s.state != UnitState::Failed) return {};
    if (s.failcause.find("PRESENCE") != std::string::npos) return "presence";
    if (s.failcause.find("MOTION") != std::string::npos) return "motion";
    return {};
}

struct KindOf {
    EventKind kind;
    bool interlock;
};

std::optional<KindOf> eventOf(ReportKind kind) {
    switch (kind) {
        case ReportKind::Started:
            return KindOf{EventKind::Started, false};
        case ReportKind::StartedInterlock:
            return KindOf{EventKind::Started, true};
        case ReportKind::FeatureEnded:
            return KindOf{EventKind::FeatureEnded, false};
        case ReportKind::FeatureEndedInterlock:
            return KindOf{EventKind::FeatureEnded, true};
        case ReportKind::StoppedReady:
            return KindOf{EventKind::StoppedReady, false};
        case ReportKind::StoppedReadyInterlock:
            return KindOf{EventKind::StoppedReady, true};
        case ReportKind::Failed:
            return KindOf{EventKind::Failed, false};
        case ReportKind::FailedInterlock:
            return KindOf{EventKind::Failed, true};
        case ReportKind::PanicStop:
            return KindOf{EventKind::PanicStop, false};
        case ReportKind::Noise:
            return KindOf{EventKind::Noise, false};
        case ReportKind::RawBlock:
        case ReportKind::QuickSave:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::string_view stateName(UnitState state) {
    switch (state) {
        case UnitState::Absent:
            return "absent";
        case UnitState::Starting:
            return "starting";
        case UnitState::Running:
            return "running";
        case UnitState::Closing:
            return "closing";
        case UnitState::NoFilm:
            return "no_film";
        case UnitState::Ready:
            return "ready";
        case UnitState::Failed:
            return "failed";
    }
    return "absent";
}

std::string_view portName(PortState state) {
    switch (state) {
        case PortState::Open:
            return "open";
        case PortState::Lost:
            return "lost";
        case PortState::Closed:
            break;
    }
    return "closed";
}

std::string_view eventName(EventKind kind) {
    switch (kind) {
        case EventKind::Started:
            return "started";
        case EventKind::FeatureEnded:
            return "feature_ended";
        case EventKind::StoppedReady:
            return "stopped_ready";
        case EventKind::Failed:
            return "failed";
        case EventKind::PanicStop:
            return "panic_stop";
        case EventKind::Noise:
            return "noise";
        case EventKind::BusLost:
            return "bus_lost";
        case EventKind::BusBack:
            return "bus_back";
        case EventKind::LogFailed:
            return "log_failed";
    }
    return "noise";
}

void UnitTimeline::load(const UnitBoard& board, ZonedTime now) {
    m_at = now;
    m_portSince = now;
    m_pending.clear();
    for (std::size_t i = 0; i < kSlots; ++i) {
        m_units[i] = Times{board.slots[i].state, now, std::nullopt, 0};
    }
}

void UnitTimeline::beforeTick(const UnitBoard& board) {
    for (std::size_t i = 0; i < kSlots; ++i) {
        m_units[i].countedBefore = countedSeconds(board.slots[i]);
    }
}

void UnitTimeline::report(ReportKind kind, const ReportPieces& pieces) {
    const auto e = eventOf(kind);
    if (!e) return;
    // A noise report comes for every noise character: one event a tick says it.
    if (e->kind == EventKind::Noise &&
        std::any_of(m_pending.begin(), m_pending.end(),
                    [](const Pending& p) { return p.kind == EventKind::Noise; })) {
        return;
    }
    m_pending.push_back({e->kind, pieces.unit, e->interlock, {}});
}

void UnitTimeline::logFailed(std::string text) {
    m_pending.push_back({EventKind::LogFailed, 0, false, std::move(text)});
}

std::vector<BoardEvent> UnitTimeline::afterTick(const UnitBoard& board, ZonedTime now) {
    m_at = now;
    for (std::size_t i = 0; i < kSlots; ++i) {
        const UnitSlot& s = board.slots[i];
        Times& t = m_units[i];
        if (s.state != t.state) {
            t.state = s.state;
            t.since = now;
        }
        const std::int64_t counted = countedSeconds(s);
        if (!s.clockrunning) {
            t.showStarted.reset();
        } else if (!t.showStarted || counted < t.countedBefore) {
            // Started, resumed or reset in this tick: the clock reads `counted`.
            t.showStarted = addZonedMilliseconds(now, -counted * 1000);
        }
    }
    std::vector<BoardEvent> out;
    out.reserve(m_pending.size());
    for (const Pending& p : m_pending) {
        BoardEvent e;
        e.seq = ++m_seq;
        e.kind = p.kind;
        e.unit = p.unit;
        e.interlock = p.interlock;
        e.at = now;
        e.text = p.text;
        if (p.unit >= 1 && p.unit <= kSlots) {
            const UnitSlot& s = board.slot(p.unit);
            e.name = s.name;
            e.clock = s.clock;
            if (p.kind == EventKind::Failed) e.cause = causeOf(s);
        }
        out.push_back(std::move(e));
    }
    m_pending.clear();
    return out;
}

std::optional<BoardEvent> UnitTimeline::port(PortState state, ZonedTime now) {
    if (state == m_port) return std::nullopt;
    const PortState before = std::exchange(m_port, state);
    m_portSince = now;
    std::optional<EventKind> kind;
    if (state == PortState::Lost && before == PortState::Open) kind = EventKind::BusLost;
    if (state == PortState::Open && before == PortState::Lost) kind = EventKind::BusBack;
    if (!kind) return std::nullopt;
    BoardEvent e;
    e.seq = ++m_seq;
    e.kind = *kind;
    e.at = now;
    return e;
}

UnitView UnitTimeline::unitView(const UnitBoard& board, int n) const {
    const UnitSlot& s = board.slot(n);
    const Times& t = m_units.at(static_cast<std::size_t>(n - 1));
    UnitView v;
    v.unit = n;
    v.name = s.name;
    v.state = s.state;
    v.interlock = s.interlock;
    v.cause = causeOf(s);
    v.words = s.status;
    v.clock = s.clock;
    // A state the tracker has not seen yet (between a tick and its end) is new now.
    v.since = t.state == s.state ? t.since : m_at;
    v.showStarted = s.clockrunning ? t.showStarted : std::nullopt;
    return v;
}

BoardView UnitTimeline::view(const UnitBoard& board) const {
    BoardView v;
    v.at = m_at;
    for (int n = 1; n <= kSlots; ++n) v.units[static_cast<std::size_t>(n - 1)] = unitView(board, n);
    v.bus = BusView{board.remoteLit(), board.noiseLit(), m_port, m_portSince};
    return v;
}

}  // namespace lw
