#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "core/beeper.h"
#include "core/logoptions.h"
#include "core/reports.h"
#include "core/unitcontract.h"
#include "serial/commport.h"
#include "platform/localtime.h"
#include "serial/portkeeper.h"
#include "platform/ticktimer.h"
#include "service/recordring.h"
#include "service/serviceoptions.h"

namespace lw {
class MonitorSession;
}

namespace lw::service {

// Counts the alarm beeps a headless box cannot sound, per decoder tick.
class CountingBeeper final : public Beeper {
public:
    void beep() override { ++m_count; }
    std::uint64_t take() { return std::exchange(m_count, 0); }

private:
    std::uint64_t m_count = 0;
};

// One line for the journal per event: port opened, lost and back, log file
// failures, the web board listening. Never per tick.
using Tell = std::function<void(const std::string&)>;

// The headless monitor: the board's monitor session on the serial layer's
// port, kept open by a PortKeeper, ticked by its own timers. It keeps the
// latest board as JSON and the recent records for whoever serves them.
class MonitorService final : public QObject {
    Q_OBJECT
public:
    MonitorService(const ServiceOptions& options, Tell tell, QObject* parent = nullptr);
    ~MonitorService() override;

    // The board's load with the port closed, then the port and the timers.
    void start();
    // The timers stop and the port closes; `stopped` follows.
    void stop();

    const MonitorSession& session() const { return *m_session; }
    PortKeeper::State portState() const { return m_keeper.state(); }
    QString device() const { return m_keeper.device(); }
    // The board after the last decoder tick as one JSON object, "port" included.
    const std::string& boardJson() const { return m_boardJson; }
    std::uint64_t tick() const { return m_tick; }
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
    void decoderTick();
    void clockTick();
    void portChanged(PortKeeper::State state, const QString& reason);
    void refreshBoard();

    ServiceOptions m_options;
    Tell m_tell;
    LogOptions m_logOptions;
    std::string m_lineSettings;
    CommPort m_port;
    PortKeeper m_keeper;
    LocalTime m_time;
    CountingBeeper m_beeper;
    std::unique_ptr<LogSink> m_sink;
    std::unique_ptr<MonitorSession> m_session;
    RecordRing m_records;
    EventRing m_events;
    QTimer m_decoderTimer;
    TickTimer m_clockTimer;
    TickTimer m_blinkTimer;
    QElapsedTimer m_sinceLoad;
    std::uint64_t m_tick = 0;
    std::int64_t m_tickAt = 0;
    std::uint64_t m_tickBeeps = 0;
    std::string m_boardJson;
    bool m_everOpen = false;
};

}  // namespace lw::service
