#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace lw {

// SIGINT and SIGTERM as a Qt signal, delivered between events: the handler
// only writes a byte to a pipe that the event loop watches, so a stop wakes
// the program at once and no timer has to look for it. One per process.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

Q_SIGNALS:
    void requested();

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_poll;  // where there is no pipe to watch
};

}  // namespace lw
