#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/notify/message.h"

namespace lw::notify {

inline constexpr std::size_t kMaxQueued = 256;  // per channel
inline constexpr std::size_t kLogSize = 200;    // deliveries kept for the API

// How patient the queue is. The defaults are the program's; tests shorten them.
struct QueuePolicy {
    std::size_t maxQueued = kMaxQueued;
    std::int64_t firstRetryMs = 5'000;  // doubled after each failure...
    std::int64_t maxRetryMs = 60'000;   // ...up to this, so a receiver back is served within it
    std::int64_t giveUpMs = 3'600'000;  // a message not taken this long after queuing fails
    std::size_t logSize = kLogSize;
};

enum class DeliveryState { Pending, Taken, Failed, Dropped };

// One message on one channel.
struct Delivery {
    std::uint64_t id = 0;
    std::size_t channel = 0;
    std::shared_ptr<const Message> message;
    std::int64_t queuedMs = 0;
    std::optional<std::int64_t> sentMs;  // when it was taken
    int attempts = 0;
    DeliveryState state = DeliveryState::Pending;
    std::string error;  // why the last attempt failed, or why it was given up or dropped
};

// What the owner should say once in its journal.
struct QueueEvent {
    enum class Kind {
        Failing,    // the first failure of a streak on the channel
        Recovered,  // taken again after `count` failures
        GaveUp,     // the first message of a streak given up
        Dropping,   // the first message refused by a full queue since the last one accepted
    };
    Kind kind;
    std::size_t channel = 0;
    std::string error;
    int count = 0;
};

// Delivers in order on each channel: one FIFO per channel, bounded, the head
// blocking the rest, one attempt in flight, retries backing off; no clock and
// no I/O of its own: the owner hands in the time in milliseconds (any
// monotonic origin), starts what due() returns and reports with finished().
class DeliveryQueue {
public:
    struct Attempt {
        std::size_t channel = 0;
        std::uint64_t id = 0;
        std::shared_ptr<const Message> message;
    };

    explicit DeliveryQueue(std::size_t channels, QueuePolicy policy = {});

    // Queues `message` on `channel`; a full queue refuses it (state Dropped).
    Delivery offer(std::size_t channel, std::shared_ptr<const Message> message, std::int64_t nowMs);
    // Gives up what waited too long and returns the attempts to start now.
    std::vector<Attempt> due(std::int64_t nowMs);
    // The outcome of an attempt due() handed out.
    void finished(std::size_t channel, std::uint64_t id, bool taken, const std::string& error,
                  std::int64_t nowMs);
    // The earliest time due() has work, when nothing is in flight meanwhile.
    std::optional<std::int64_t> nextDueMs() const;

    std::vector<QueueEvent> takeEvents();
    // The latest deliveries, oldest first.
    const std::deque<Delivery>& log() const { return m_log; }
    std::size_t pending() const;
    std::size_t failed() const { return m_failed; }
    std::size_t dropped() const { return m_dropped; }
    // The last error of a channel whose latest attempt failed.
    std::optional<std::string> problem(std::size_t channel) const;
    std::size_t channels() const { return m_channels.size(); }

private:
    struct Channel {
        std::deque<Delivery> waiting;
        bool inFlight = false;
        std::int64_t nextTryMs = 0;
        int streak = 0;  // failures since the last delivery taken
        std::string lastError;
        bool gaveUpInStreak = false;
        bool dropping = false;
    };
    void record(const Delivery& d);
    void giveUpExpired(Channel& ch, std::size_t index, std::int64_t nowMs);

    QueuePolicy m_policy;
    std::vector<Channel> m_channels;
    std::deque<Delivery> m_log;
    std::vector<QueueEvent> m_events;
    std::uint64_t m_nextId = 1;
    std::size_t m_failed = 0;
    std::size_t m_dropped = 0;
};

}  // namespace lw::notify
