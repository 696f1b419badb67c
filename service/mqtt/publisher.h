#pragma once

#include <QObject>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/journal.h"
#include "core/result.h"
#include "net/mqtt/link.h"
#include "service/mqtt/outbox.h"
#include "service/mqtt/topics.h"

class QThread;

namespace lw {
struct BoardEvent;
struct BoardView;
}

namespace lw::mqtt {

class Sender;

// Records handed to the client library and not yet acknowledged: enough to
// fill a slow link, few enough that the bounded queue holds nearly all of a
// backlog (the library keeps its share across reconnects and sends it first).
inline constexpr std::size_t kRecordWindow = 16;

struct Settings {
    Endpoint broker;
    std::string prefix{kDefaultPrefix};
    std::string site;
    std::string credentialsFile;  // user and password, when not empty
    std::string cafile;           // TLS when not empty
    std::size_t queueCapacity = kRecordQueueCapacity;
    std::size_t recordWindow = kRecordWindow;
    // Topic filters read as well as published to (Home Assistant's status).
    std::vector<std::string> subscriptions;
};

// Publishes one booth's board and records to an MQTT broker, and only
// publishes. The broker is served by a thread of its own; the monitoring
// thread only hands over copies under a short lock and never waits on the
// network. Records go out in order, QoS 1, from a bounded queue that outlives
// any number of lost connections; the retained topics go out again on every
// reconnect.
class Publisher {
public:
    // One line for the journal, called on the thread that made the publisher.

    explicit Publisher(Settings settings, Journal journal = {});
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Checks the settings (topics, the credentials and CA files) and starts
    // connecting in the background; a broker that is away is not an error.
    Result<> start();

    // Delivers what it can within `grace`, says "0" on the online topic and
    // disconnects. Waits at most about `grace` plus a second; the lines told
    // meanwhile are told before it returns.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds{2000});

    // From the monitoring thread, after each tick: the board as the contract
    // tells it; only what changed its meaning goes out.
    void publishBoard(const BoardView& view);
    // From the monitoring thread: one unit or bus event, as it happened.
    void publishEvent(const BoardEvent& event);
    // From the monitoring thread: one record exactly as the log got it.
    void publishRecord(std::string_view text);
    // A retained topic beside the board's (a discovery config): out when its
    // payload is new, and again after every reconnect and resendRetained(),
    // ahead of the board's own.
    void publishRetained(std::string topic, std::string payload);
    // Every retained topic goes out again, as after a reconnect.
    void resendRetained();

    // What arrives on the settings' subscriptions, told on this thread; set
    // before start().
    using MessageHandler = std::function<void(const std::string& topic, const std::string& payload)>;
    void setMessageHandler(MessageHandler handler) { m_onMessage = std::move(handler); }

    Stats stats() const { return m_outbox->stats(); }

private:
    void giveTurn();

    Settings m_settings;
    Journal m_journal;
    MessageHandler m_onMessage;
    QObject m_home;  // where the journal lines are told
    RetainedSlots m_retained;
    std::shared_ptr<Outbox> m_outbox;
    std::unique_ptr<QThread> m_thread;
    Sender* m_sender = nullptr;  // lives on m_thread
};

}  // namespace lw::mqtt
