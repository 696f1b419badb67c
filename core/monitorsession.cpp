#include "core/monitorsession.h"

#include "core/timesource.h"
#include "core/timetext.h"

namespace lw {

MonitorSession::MonitorSession(SessionDeps deps)
    : m_time(deps.time),
      m_names(std::move(deps.names)),
      m_reports(deps.sink, std::move(deps.logOptions)),
      m_monitor(MonitorDeps{deps.time, deps.port, deps.beeper, m_reports,
                            std::move(deps.versionChoice), std::move(deps.rawOut)}) {
    m_reports.setFailureHandler(
        [this, tell = std::move(deps.onLogFailure)](const LogFailure& f) {
            m_timeline.logFailed("cannot write the activity log " + f.path + ": " + f.error);
            if (tell) tell(f);
        });
    m_reports.setReportObserver(
        [this](ReportKind kind, const ReportPieces& p) { m_timeline.report(kind, p); });
}

Result<> MonitorSession::load() {
    m_timeline.beforeTick(m_monitor.board());
    m_monitor.load();
    m_timeline.load(m_monitor.board(), m_time.zoned());
    if (!m_names) return {};
    UnitNames captions = namesOf(m_monitor.board());
    const Result<> r = m_names(captions);
    setNames(m_monitor.board(), captions);
    return r;
}

void MonitorSession::decoderTick() {
    m_timeline.beforeTick(m_monitor.board());
    m_monitor.decoderTick();
    const auto events = m_timeline.afterTick(m_monitor.board(), m_time.zoned());
    if (m_onEvent) {
        for (const BoardEvent& e : events) m_onEvent(e);
    }
}

void MonitorSession::portChanged(PortState state) {
    const auto e = m_timeline.port(state, m_time.zoned());
    if (e && m_onEvent) m_onEvent(*e);
}

void MonitorSession::setRecordObserver(RecordObserver observer) {
    if (!observer) {
        m_reports.setRecordObserver({});
        return;
    }
    m_reports.setRecordObserver([this, observer = std::move(observer)](const RecordEvent& e) {
        const std::string at = isoText(m_time.zoned());
        RecordEvent stamped = e;
        stamped.at = at;
        observer(stamped);
    });
}

int MonitorSession::clockTick() {
    m_monitor.clockTick();
    return ticksUntilNextSecond(m_time.untilNextSecond(), kClockTick);
}

Result<> MonitorSession::quickSave(std::string_view text) {
    const TimeSource::Stamp now = m_time.stamp();
    return m_reports.quickSave(now.time, now.date, text);
}

}  // namespace lw
