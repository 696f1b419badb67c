#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

#include "core/monitorsession.h"
#include "platform/ticktimer.h"

namespace lw {

// Ticks of a fixed period counted from its start, run by whoever looks: it
// never wakes the process. For a phase only read at another tick.
class TickCount final : public QObject {
    Q_OBJECT
public:
    explicit TickCount(std::chrono::milliseconds interval, QObject* parent = nullptr);

    int interval() const { return static_cast<int>(m_interval.count()); }
    bool isActive() const { return m_since.isValid(); }
    // The count starts now; the first tick falls one interval on.
    void start();
    // The ticks fallen since the last take (or the start), counted as run.
    qint64 takeDue();

private:
    std::chrono::milliseconds m_interval;
    QElapsedTimer m_since;
    qint64 m_taken = 0;
};

// The board timers of one monitor session, for the status board and the
// service alike: the decoder tick, the show clocks (waking only for the
// tick that sees a new second) and the blink phase (its ticks due run just
// before each decoder tick, the only one that reads the phase).
class SessionRunner final : public QObject {
    Q_OBJECT
public:
    explicit SessionRunner(MonitorSession& session, QObject* parent = nullptr);

    // The board's load; the blink phase starts turning over.
    Result<> load();
    // The decoder and the clocks start on their periods.
    void start();
    // The decoder and the clocks stop; the blink phase goes on.
    void stop();
    bool running() const { return m_decoder.isActive(); }

    // A decoder or clock tick, as the timers run them (tests call them).
    void decoderTick();
    void clockTick();

    QTimer& decoderTimer() { return m_decoder; }
    TickTimer& clockTimer() { return m_clock; }
    TickCount& blinkCount() { return m_blink; }

Q_SIGNALS:
    void decoderTicked();
    void clockTicked();

private:
    MonitorSession& m_session;
    QTimer m_decoder;
    TickTimer m_clock;
    TickCount m_blink{kBlinkTick};
};

}  // namespace lw
