#include "core/monitorsession.h"

#include "core/timesource.h"

namespace lw {

MonitorSession::MonitorSession(SessionDeps deps)
    : m_time(deps.time),
      m_names(std::move(deps.names)),
      m_reports(deps.sink, std::move(deps.logOptions)),
      m_monitor(MonitorDeps{deps.time, deps.port, deps.beeper, m_reports,
                            std::move(deps.versionChoice), std::move(deps.rawOut)}) {
    if (deps.onLogFailure) m_reports.setFailureHandler(std::move(deps.onLogFailure));
}

Result<> MonitorSession::load() {
    m_monitor.load();
    if (!m_names) return {};
    UnitNames captions = namesOf(m_monitor.board());
    const Result<> r = m_names(captions);
    setNames(m_monitor.board(), captions);
    return r;
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
