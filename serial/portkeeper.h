#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>

#include "core/result.h"

namespace lw {

class CommPort;
class SerialPortOps;

// Keeps a bus port open for as long as it is wanted: opens it with a port
// number and line format, notices through the port's lost handler when its
// device goes away, tells that once, then tries the same number and line
// format again every 2 s until the device is back. Nothing else wakes up
// while it waits. Both the status board and the headless service use it.
class PortKeeper final : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Open, Lost };
    Q_ENUM(State)

    // What to do when the very first open fails.
    enum class FirstOpen {
        MustSucceed,  // stay closed; the caller tells the user
        KeepTrying,   // count it as lost and retry as after a loss
    };

    static constexpr std::chrono::milliseconds kRetryPeriod{2000};

    using DeviceName = std::function<QString()>;

    // `port` must outlive the keeper; the keeper takes its lost handler.
    // `deviceName` names the device in messages (e.g. "COM 3").
    PortKeeper(SerialPortOps& port, DeviceName deviceName, QObject* parent = nullptr);
    // A serial layer port names its own device path.
    explicit PortKeeper(CommPort& port, QObject* parent = nullptr);
    ~PortKeeper() override;

    // Selects the port, sets the line format and opens it. The port must be
    // closed. With KeepTrying a device that will not open is retried; a
    // number or line format the port rejects never is.
    Result<> open(int number, const std::string& lineSettings,
                  FirstOpen policy = FirstOpen::MustSucceed);
    // Stops retrying and closes the port (errors ignored).
    void close();

    State state() const { return m_state; }
    // "open", "lost" or "closed".
    static const char* stateText(State s);
    QString device() const;
    // Why the port was lost, or why the last attempt to open it failed;
    // empty while open.
    QString reason() const { return m_reason; }
    // Attempts to reopen since the loss.
    int attempts() const { return m_attempts; }
    // Whether a retry is due: only while lost.
    bool retrying() const { return m_retry.isActive(); }

Q_SIGNALS:
    // Once for each change: open, lost (with why), back open, closed.
    void stateChanged(lw::PortKeeper::State state, const QString& reason);

private:
    void lost(const std::string& why);
    void retry();
    Result<> tryOpen();
    void setState(State s, const QString& reason);
    QString readable(const std::string& why) const;

    SerialPortOps& m_port;
    DeviceName m_deviceName;
    QTimer m_retry;
    int m_number = 0;
    std::string m_lineSettings;
    State m_state = State::Closed;
    QString m_reason;
    int m_attempts = 0;
};

}  // namespace lw
