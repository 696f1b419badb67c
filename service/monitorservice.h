#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

#include "core/journal.h"
#include "core/beeper.h"
#include "core/monitorsession.h"
#include "core/reports.h"
#include "core/unitcontract.h"
#include "platform/localtime.h"
#include "platform/sessionrunner.h"
#include "serial/commport.h"
#include "serial/portkeeper.h"
#include "service/recordring.h"
#include "service/serviceoptions.h"

namespace lw::service {


// The headless monitor: port + session + runner. The serial layer's port,
// kept open by a PortKeeper; the board's monitor session; its timers. It keeps the
// latest board as JSON and the recent records for whoever serves them.
class MonitorService final : public QObject {
    Q_OBJECT
public:
    MonitorService(const ServiceOptions& options, Journal journal, QObject* parent = nullptr);
    ~MonitorService() override;

    // The board's load with the port closed, then the port and the timers.
    void start();
    // The timers stop and the port closes; `stopped` follows.
    void stop();

    const MonitorSession& session() const { return m_session; }
    PortKeeper::State portState() const { return m_keeper.state(); }
    QString device() const { return m_keeper.device(); }
    // The board after the last decoder tick as one JSON object, "port" included.
    const std::string& boardJson() const { return m_boardJson; }
    const RecordRing& records() const { return m_records; }
    const EventRing& events() const { return m_events; }

Q_SIGNALS:
    // After every decoder tick, the board JSON fresh.
    void ticked();
    // Every record the options let through, in order, after the log write.
    void recordAdded(const lw::service::ServiceRecord& record);
    void portStateChanged(lw::PortKeeper::State state, const QString& reason);
    // Every unit, bus and log event, as the session numbered it.
    void eventAdded(const lw::BoardEvent& event);
    void stopped();

private:
    void decoderTicked();
    void portChanged(PortKeeper::State state, const QString& reason);
    void refreshBoard();

    ServiceOptions m_options;
    Journal m_journal;
    std::string m_lineSettings;
    CommPort m_port;
    PortKeeper m_keeper;
    LocalTime m_time;
    CountingBeeper m_beeper;
    FileLogSink m_sink;
    MonitorSession m_session;
    SessionRunner m_runner;
    RecordRing m_records;
    EventRing m_events;
    QElapsedTimer m_sinceLoad;
    std::uint64_t m_tick = 0;
    std::int64_t m_tickAt = 0;
    std::uint64_t m_tickBeeps = 0;
    std::string m_boardJson;
    bool m_everOpen = false;
};

}  // namespace lw::service
