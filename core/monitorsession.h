#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/busmonitor.h"
#include "core/logoptions.h"
#include "core/namesfile.h"
#include "core/reports.h"
#include "core/showclock.h"
#include "core/timesource.h"
#include "core/unitcontract.h"

namespace lw {

class Beeper;
class BusInput;
class LogSink;

// The board timers' periods; every front end ticks the session at these.
inline constexpr std::chrono::milliseconds kDecoderTick{800};
inline constexpr std::chrono::milliseconds kClockTick{100};
inline constexpr std::chrono::milliseconds kBlinkTick{550};

// At most this many bytes come from the bus port in one read: a flooding
// line waits in the driver instead of growing a tick's work.
inline constexpr std::size_t kReadCap = 1024;

// What a session reaches outside itself, handed in by its front end.
struct SessionDeps {
    BusInput& port;
    TimeSource& time;
    Beeper& beeper;
    LogSink& sink;
    std::function<LogOptions()> logOptions;             // read at every record
    std::function<std::string()> versionChoice;         // the software version choice
    std::function<void(std::string_view)> rawOut = {};  // every byte read, as read
    std::function<void(const LogFailure&)> onLogFailure = {};
    // Reads the unit names over the captions at load; none: the numbers stay.
    std::function<Result<>(UnitNames&)> names = {};
};

// One monitor of the bus, whole: the event reports and their log, the bus
// monitor with its board, and the load that reads the unit names. The status
// board, the replay tool and a headless service each build one and tick it.
class MonitorSession {
public:
    explicit MonitorSession(SessionDeps deps);
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    // The board's load: tables, every slot absent, one decoder tick with
    // whatever the port says, then the unit names. Tells how the names went.
    Result<> load();

    void decoderTick();
    // Tells which tick from this one (1: the next) can next count a second;
    // the ones before it need not run.
    int clockTick();
    void blinkTick() { m_monitor.blinkTick(); }
    // Blink ticks that came due while nobody looked, run at once: each one
    // turns the phase over.
    void blinkTicks(std::int64_t n) {
        if (n % 2 != 0) m_monitor.blinkTick();
    }

    // The raw text saved into the log whatever the options say, stamped now.
    Result<> quickSave(std::string_view text);

    // Told of every record the options let through and every quick save, in
    // order, as the log got it (or failed to).
    void setRecordObserver(RecordObserver observer);

    // Told of every unit and bus event, in order, once the tick that made it
    // is over (the board then says what it means).
    using EventObserver = std::function<void(const BoardEvent&)>;
    void setEventObserver(EventObserver observer) { m_onEvent = std::move(observer); }
    // The front end tells how its bus port is; a loss and a return are events.
    void portChanged(PortState state);

    // The board as the contract tells it, made at the last tick.
    BoardView view() const { return m_timeline.view(m_monitor.board()); }
    UnitView unitView(int n) const { return m_timeline.unitView(m_monitor.board(), n); }

    UnitBoard& board() { return m_monitor.board(); }
    const UnitBoard& board() const { return m_monitor.board(); }
    BusMonitor& monitor() { return m_monitor; }
    const BusMonitor& monitor() const { return m_monitor; }
    EventReports& reports() { return m_reports; }
    const EventReports& reports() const { return m_reports; }

private:
    TimeSource& m_time;
    std::function<Result<>(UnitNames&)> m_names;
    EventReports m_reports;
    BusMonitor m_monitor;
    UnitTimeline m_timeline;
    EventObserver m_onEvent;
};

}  // namespace lw
