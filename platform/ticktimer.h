#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace lw {

// A periodic tick on a grid fixed at its start, that need not wake the
// process for ticks its owner knows would do nothing. From inside a tick the
// owner names the next tick it needs (skipTo), or none until it says so
// (sleep, wake); the ticks in between are passed over, never run early, and
// the ones that run fall on the same grid as every tick would.
// Read as an ordinary timer it is one: an interval, and active from start to
// stop, asleep or not.
class TickTimer final : public QObject {
    Q_OBJECT
public:
    explicit TickTimer(QObject* parent = nullptr);

    void setInterval(std::chrono::milliseconds interval);
    int interval() const { return static_cast<int>(m_interval.count()); }
    bool isActive() const { return m_active; }

    // The grid starts now; the first tick is one interval on.
    void start();
    void start(std::chrono::milliseconds interval);
    void stop();

    // The next tick to run is the n-th of the grid after the latest one due
    // (1: the next, as an ordinary timer). Only while active.
    void skipTo(int n);
    // No tick runs until wake(); wake() runs the next one due on the grid.
    void sleep();
    void wake();
    bool sleeping() const { return m_active && !m_timer.isActive(); }

Q_SIGNALS:
    void timeout();

private:
    void fire();
    void arm(qint64 index);
    qint64 latestDue() const;

    QTimer m_timer;
    QElapsedTimer m_since;  // the grid's origin
    std::chrono::milliseconds m_interval{1};  // never less
    qint64 m_index = 0;       // the grid tick armed, or the one running
    qint64 m_lastRun = 0;     // the latest grid tick run
    quint64 m_generation = 0;  // moves whenever what comes next is chosen
    int m_depth = 0;           // ticks running (one may open an event loop)
    bool m_active = false;
};

}  // namespace lw
