#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/contractjson.h"
#include "core/unitboard.h"
#include "service/mqtt/topics.h"

// What waits for the broker: the retained slots and the record queue, handed
// from the monitoring thread to the publisher's under one short lock.
namespace lw::mqtt {

// Records kept for the broker while it is away; the oldest go first.
inline constexpr std::size_t kRecordQueueCapacity = 10'000;
// Events kept likewise: a night's worth of starts, ends and failures.
inline constexpr std::size_t kEventQueueCapacity = 1'000;

// One retained topic to publish: its slot and payload.
struct RetainedUpdate {
    int slot = 0;
    std::string payload;
};

// Decides, after each look at the board, which retained slots change: a unit
// or the bus when its meaning does (MeaningTracker), never for a lamp's flash
// or a clock's second. The first look publishes everything.
class RetainedSlots {
public:
    std::vector<RetainedUpdate> changes(const BoardView& view);

private:
    MeaningTracker m_meaning;
};

// Records waiting for the broker, bounded: a record that finds the queue full
// pushes out the oldest and is counted.
class RecordQueue {
public:
    explicit RecordQueue(std::size_t capacity = kRecordQueueCapacity) : m_capacity(capacity) {}

    void push(std::string record);
    // Back to the front, in their order: records taken but not handed over.
    void putBack(std::vector<std::string>& taken);
    std::string pop();
    bool empty() const { return m_items.empty(); }
    std::size_t size() const { return m_items.size(); }
    std::size_t capacity() const { return m_capacity; }
    std::uint64_t dropped() const { return m_dropped; }

private:
    std::size_t m_capacity;
    std::deque<std::string> m_items;
    std::uint64_t m_dropped = 0;
};

// What the publisher has done so far; for the journal and the benchmark.
struct Stats {
    std::uint64_t delivered = 0;  // records the broker acknowledged
    std::uint64_t dropped = 0;    // records pushed out of a full queue
    std::size_t queued = 0;       // records waiting, not yet handed over
    bool connected = false;
};

// The box between the two threads. Each put says whether the publisher's
// thread needs a turn: once until it next takes.
class Outbox {
public:
    explicit Outbox(std::size_t capacity) : m_records(capacity) {}

    // Monitoring thread.
    bool putRetained(std::vector<RetainedUpdate> updates);
    bool putRecord(std::string record);
    bool putEvent(std::string event);

    // Publisher's thread.
    struct Batch {
        std::vector<RetainedUpdate> retained;  // the latest of each slot that changed
        std::vector<std::string> records;      // oldest first
        std::vector<std::string> events;       // oldest first, all that wait
        std::uint64_t dropped = 0;             // records dropped so far, in all
        bool caughtUp = false;                 // the queue is empty after this take
    };
    // Every changed slot and at most `records` records; with `records` 0 and
    // `retained` false only the counts.
    Batch take(bool retained, std::size_t records);
    void putBack(std::vector<std::string>& records);
    void putBackEvents(std::vector<std::string>& events);
    // True when no turn of the publisher's thread is pending yet: the caller
    // then posts one. The next take() ends the turn.
    bool claimTurn();
    void resendRetained();  // every slot that has a payload goes out again
    void countDelivered();
    void setConnected(bool connected);
    std::size_t recordsWaiting() const;
    std::size_t capacity() const { return m_records.capacity(); }

    Stats stats() const;

private:
    mutable std::mutex m_mutex;
    RecordQueue m_records;
    RecordQueue m_events{kEventQueueCapacity};
    std::array<std::string, kRetainedSlots> m_latest;
    std::bitset<kRetainedSlots> m_changed;
    bool m_turnPending = false;
    std::uint64_t m_delivered = 0;
    bool m_connected = false;
};

}  // namespace lw::mqtt
