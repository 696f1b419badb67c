#include "serial/portkeeper.h"

#include <QFileInfo>

#include "core/busport.h"
#include "serial/commport.h"

namespace lw {

PortKeeper::PortKeeper(SerialPortOps& port, DeviceName deviceName, QObject* parent)
    : QObject(parent), m_port(port), m_deviceName(std::move(deviceName)) {
    m_retry.setInterval(kRetryPeriod);
    // Whole seconds are precise enough and let the system batch the wake-up.
    m_retry.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_retry, &QTimer::timeout, this, &PortKeeper::retry);
    m_port.setLostHandler([this](const std::string& why) { lost(why); });
}

PortKeeper::PortKeeper(CommPort& port, QObject* parent)
    : PortKeeper(
          port, [&port] { return port.device(); }, parent) {}

PortKeeper::~PortKeeper() { m_port.setLostHandler({}); }

const char* PortKeeper::stateText(State s) {
    switch (s) {
        case State::Open:
            return "open";
        case State::Lost:
            return "lost";
        case State::Closed:
            break;
    }
    return "closed";
}

QString PortKeeper::device() const { return m_deviceName ? m_deviceName() : QString(); }

Result<> PortKeeper::open(int number, const std::string& lineSettings, FirstOpen policy) {
    m_retry.stop();
    m_number = number;
    m_lineSettings = lineSettings;
    m_attempts = 0;
    // A number or line format the port rejects will not get better by waiting.
    Result<> r = m_port.setCommPort(m_number);
    if (r.ok) r = m_port.setSettings(m_lineSettings);
    const bool deviceAtFault = r.ok;
    if (r.ok) r = tryOpen();
    if (r.ok) {
        setState(State::Open, {});
    } else if (deviceAtFault && policy == FirstOpen::KeepTrying) {
        m_retry.start();
        setState(State::Lost, readable(r.error));
    } else {
        setState(State::Closed, readable(r.error));
    }
    return r;
}

void PortKeeper::close() {
    m_retry.stop();
    m_port.setPortOpen(false);
    setState(State::Closed, {});
}

Result<> PortKeeper::tryOpen() {
    Result<> r = m_port.setCommPort(m_number);
    if (r.ok) r = m_port.setSettings(m_lineSettings);
    if (r.ok) r = m_port.setPortOpen(true);
    if (!r.ok && m_port.portOpen()) m_port.setPortOpen(false);
    return r;
}

void PortKeeper::lost(const std::string& why) {
    if (m_state != State::Open) return;
    m_attempts = 0;
    m_retry.start();
    // A pulled adapter often reports only what its last call tripped over.
    const QString name = device();
    QString reason = readable(why);
    if (name.startsWith(QLatin1Char('/')) && !QFileInfo::exists(name) && !reason.contains(name)) {
        reason = QStringLiteral("The device %1 has gone away (%2)").arg(name, reason);
    }
    setState(State::Lost, reason);
}

void PortKeeper::retry() {
    ++m_attempts;
    const Result<> r = tryOpen();
    if (!r.ok) {
        // Told once at the loss; a changing reason is kept for whoever asks.
        m_reason = readable(r.error);
        return;
    }
    m_retry.stop();
    setState(State::Open, {});
}

void PortKeeper::setState(State s, const QString& reason) {
    m_reason = reason;
    if (s == m_state) return;
    m_state = s;
    Q_EMIT stateChanged(s, reason);
}

QString PortKeeper::readable(const std::string& why) const {
    // The serial library sometimes has nothing better to say than this.
    if (why.empty() || why == "Unknown error") {
        const QString name = device();
        return name.isEmpty() ? QStringLiteral("The device stopped answering")
                              : QStringLiteral("The device %1 stopped answering").arg(name);
    }
    return QString::fromStdString(why);
}

}  // namespace lw
