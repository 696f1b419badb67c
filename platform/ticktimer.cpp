#include "platform/ticktimer.h"

#include <algorithm>

namespace lw {

TickTimer::TickTimer(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    // Each wake-up is armed for its grid tick exactly; a coarse timer could
    // run a tick that must see a new second before the second has turned.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TickTimer::fire);
}

void TickTimer::setInterval(std::chrono::milliseconds interval) {
    m_interval = std::max(interval, std::chrono::milliseconds(1));
    if (m_active) start();
}

void TickTimer::start() {
    m_active = true;
    m_since.start();
    m_lastRun = 0;
    arm(1);
}

void TickTimer::start(std::chrono::milliseconds interval) {
    m_interval = std::max(interval, std::chrono::milliseconds(1));
    start();
}

void TickTimer::stop() {
    m_active = false;
    ++m_generation;
    m_timer.stop();
}

void TickTimer::skipTo(int n) {
    if (!m_active) return;
    const qint64 base = m_depth > 0 ? std::max(m_index, latestDue()) : latestDue();
    arm(base + std::max(n, 1));
}

void TickTimer::sleep() {
    if (!m_active) return;
    ++m_generation;
    m_timer.stop();
}

void TickTimer::wake() {
    if (m_active && !m_timer.isActive()) arm(latestDue() + 1);
}

qint64 TickTimer::latestDue() const { return m_since.elapsed() / m_interval.count(); }

void TickTimer::arm(qint64 index) {
    ++m_generation;
    const qint64 now = m_since.elapsed();
    // Ticks missed while the thread was busy are not made up, as with any
    // timer: the next one is the first still ahead.
    if (index * m_interval.count() <= now) index = now / m_interval.count() + 1;
    m_index = index;
    m_timer.start(std::chrono::milliseconds(index * m_interval.count() - now));
}

void TickTimer::fire() {
    const qint64 running = m_index;
    const quint64 generation = m_generation;
    if (running > m_lastRun) {  // a tick runs once, however early its wake-up
        m_lastRun = running;
        ++m_depth;
        Q_EMIT timeout();
        --m_depth;
    }
    // Unless the tick chose otherwise, the next grid tick follows.
    if (m_active && generation == m_generation) arm(std::max(running, latestDue()) + 1);
}

}  // namespace lw
