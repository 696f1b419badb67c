#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/journal.h"
#include "net/notify/deliveryqueue.h"
#include "net/notify/message.h"

class QNetworkAccessManager;

namespace lw::notify {

inline constexpr std::chrono::milliseconds kHttpTimeout{10'000};  // a whole POST, answer included
inline constexpr std::chrono::milliseconds kMailTimeout{30'000};  // the mail program, then killed

// The program that takes a whole mail on its standard input, run without a shell.
struct MailProgram {
    std::string program = "/usr/sbin/sendmail";
    std::vector<std::string> args{"-t", "-oi"};
};

// Delivers the hub's notifications to webhooks (the JSON document), ntfy
// topics (the text with ntfy's headers) and mail addresses (through the mail
// program), each channel in order through its own DeliveryQueue. send()
// never waits; failures reach the journal once per streak and every
// delivery's state is readable as JSON.
class Notifier : public QObject {
    Q_OBJECT
public:
    // Channels whose target parseChannel() refuses are left out, each with
    // a journal line.
    Notifier(std::vector<Destination> channels, Journal journal, MailProgram mail = {},
             QueuePolicy policy = {}, QObject* parent = nullptr);
    ~Notifier() override;

    // Queues `message` on every channel.
    void send(const Message& message);

    // The latest deliveries, oldest first (the body of /api/notifications).
    std::string notificationsJson() const;
    // {"channels":N,"pending":N,"failed":N,"dropped":N,"problem":TEXT|null}
    std::string statusJson() const;

Q_SIGNALS:
    // A delivery was queued, dropped, tried, taken or given up.
    void changed();

private:
    void drive();
    void startHttp(const DeliveryQueue::Attempt& attempt);
    void startMail(const DeliveryQueue::Attempt& attempt);
    void finish(std::size_t channel, std::uint64_t id, bool taken, const std::string& error);
    void journalEvents();
    std::int64_t nowMs() const { return m_clock.elapsed(); }

    std::vector<Destination> m_destinations;
    Journal m_journal;
    MailProgram m_mail;
    DeliveryQueue m_queue;
    std::string m_refused;  // the first channel left out, for the status
    QNetworkAccessManager* m_net = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_driving = false;
    bool m_driveAgain = false;
    bool m_closing = false;
};

}  // namespace lw::notify
