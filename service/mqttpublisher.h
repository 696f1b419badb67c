#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "service/mqttformat.h"

class QThread;

namespace lw {
struct UnitBoard;
}

namespace lw::mqtt {

class Link;
struct Shared;

struct Settings {
    Endpoint broker;
    std::string prefix{kDefaultPrefix};
    std::string site;
    std::optional<Credentials> credentials;
    std::string cafile;  // TLS when not empty
    std::size_t queueCapacity = kRecordQueueCapacity;
};

// What the publisher has done so far; for the journal and the benchmark.
struct Stats {
    std::uint64_t delivered = 0;  // records the broker acknowledged
    std::uint64_t dropped = 0;    // records pushed out of a full queue
    std::size_t queued = 0;       // records waiting, not yet handed over
    bool connected = false;
};

// Publishes one booth's board and records to an MQTT broker, and only
// publishes: nothing is subscribed to. The broker is served by a thread of its
// own; the monitoring thread only hands over copies under a short lock and
// never waits on the network. Records go out in order, QoS 1, from a bounded
// queue that outlives any number of lost connections; the retained topics go
// out again on every reconnect.
class Publisher {
public:
    // One line for the journal, called on the publisher's thread.
    using Tell = std::function<void(const std::string&)>;

    explicit Publisher(Settings settings, Tell tell = {});
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Checks the settings (topics, the CA file) and starts connecting in the
    // background; a broker that is away is not an error.
    Result<> start();

    // Delivers what it can within `grace`, says "0" on the online topic and
    // disconnects. Waits at most about `grace` plus a second.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds{2000});

    // From the monitoring thread, after each tick: the board as it stands and
    // the bus port's state ("open", "lost", "closed").
    void board(const UnitBoard& board, std::string_view port);
    // From the monitoring thread: one record exactly as the log got it.
    void record(std::string_view text);

    Stats stats() const;

private:
    void wake();

    Settings m_settings;
    Tell m_tell;
    RetainedTracker m_tracker;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    Link* m_link = nullptr;  // lives on m_thread
    bool m_started = false;
};

}  // namespace lw::mqtt
