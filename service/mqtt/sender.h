#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "core/journal.h"
#include "core/result.h"
#include "net/mqtt/link.h"
#include "service/mqtt/topics.h"

class QTimer;

namespace lw::mqtt {

class Outbox;
struct Settings;

// The publisher's thread side: takes what the outbox holds and hands it to the
// link, the retained topics again after every reconnect, records in order and
// at most kRecordWindow unacknowledged; says "1" and, on a clean stop, "0".
class Sender final : public QObject {
public:
    // One line for the journal.

    // With its link, or why the settings cannot make one.
    static Result<std::unique_ptr<Sender>> create(const Settings& settings,
                                                  std::optional<Credentials> login,
                                                  std::shared_ptr<Outbox> outbox, Journal journal);

    // Messages on the settings' subscriptions, told on this sender's thread.
    using MessageHandler = std::function<void(const std::string& topic, const std::string& payload)>;
    void setMessageHandler(MessageHandler handler) { m_onMessage = std::move(handler); }

    void open();
    // A turn: hand over what waits, as far as the link takes it.
    void sendWaiting();
    // Delivers what it can within `grace`, says "0" and closes; the thread's
    // event loop ends once the link has closed.
    void stop(std::chrono::milliseconds grace);

private:
    Sender(const Settings& settings, std::shared_ptr<Outbox> outbox, Journal journal);

    enum class Phase {
        Publishing,
        Delivering,  // stopping: the queue goes out within the grace
        Leaving,     // "0" said, the link closing; what is in flight is on its way
        Abandoning,  // stopping without the broker: what is in flight is lost
    };

    void onConnected();
    void onLost(const std::string& why);
    void onUnreachable(const std::string& why);
    void onAcknowledged(int mid);
    void onClosed();
    void leaveIfDelivered();
    void sayGoodbye();
    void tellDrops(std::uint64_t dropped, bool caughtUp);

    Topics m_topics;
    Endpoint m_broker;
    std::size_t m_recordWindow;
    std::shared_ptr<Outbox> m_outbox;
    Journal m_journal;
    MessageHandler m_onMessage;
    Link* m_link = nullptr;
    QTimer* m_grace;
    Phase m_phase = Phase::Publishing;
    std::set<int> m_recordMids;     // records handed over, not yet acknowledged
    std::uint64_t m_dropsTold = 0;  // drops counted in a line already
    bool m_fullTold = false;        // "the queue is full" said for the drops since
};

}  // namespace lw::mqtt
