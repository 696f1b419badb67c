#include "platform/sessionrunner.h"

#include <algorithm>

namespace lw {

TickCount::TickCount(std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), m_interval(std::max(interval, std::chrono::milliseconds(1))) {}

void TickCount::start() {
    m_since.start();
    m_taken = 0;
}

qint64 TickCount::takeDue() {
    if (!m_since.isValid()) return 0;
    const qint64 latest = m_since.elapsed() / m_interval.count();
    const qint64 due = latest > m_taken ? latest - m_taken : 0;
    m_taken = std::max(m_taken, latest);
    return due;
}

SessionRunner::SessionRunner(MonitorSession& session, QObject* parent)
    : QObject(parent), m_session(session) {
    m_decoder.setInterval(kDecoderTick);
    m_clock.setInterval(kClockTick);
    connect(&m_decoder, &QTimer::timeout, this, [this] {
        m_session.blinkTicks(m_blink.takeDue());
        decoderTick();
    });
    connect(&m_clock, &TickTimer::timeout, this, &SessionRunner::clockTick);
}

Result<> SessionRunner::load() {
    m_blink.start();
    return m_session.load();
}

void SessionRunner::start() {
    m_decoder.start(kDecoderTick);
    m_clock.start(kClockTick);
}

void SessionRunner::stop() {
    m_decoder.stop();
    m_clock.stop();
}

void SessionRunner::decoderTick() {
    m_session.decoderTick();
    Q_EMIT decoderTicked();
}

void SessionRunner::clockTick() {
    const int next = m_session.clockTick();
    Q_EMIT clockTicked();
    m_clock.skipTo(next);
}

}  // namespace lw
