#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/unitboard.h"

// What the service publishes to an MQTT broker, as text: the topics, the
// payloads and when a retained topic goes out again. No network here.
namespace lw::mqtt {

inline constexpr std::string_view kDefaultPrefix = "linewarden";
// A running show clock alone republishes its unit at most this often.
inline constexpr std::chrono::milliseconds kClockInterval{10'000};
// Records kept for the broker while it is away; the oldest go first.
inline constexpr std::size_t kRecordQueueCapacity = 10'000;

// Retained topics by slot: the sixteen units, then the bus.
inline constexpr int kBusSlot = kSlots;
inline constexpr int kRetainedSlots = kSlots + 1;

// PREFIX/SITE/... for one booth.
class Topics {
public:
    Topics(std::string_view prefix, std::string_view site);

    const std::string& online() const { return m_online; }
    const std::string& bus() const { return m_bus; }
    const std::string& record() const { return m_record; }
    std::string unit(int n) const;  // n = 1..16
    // The topic of a retained slot (0..15 units, kBusSlot the bus).
    std::string slot(int slot) const { return slot == kBusSlot ? m_bus : unit(slot + 1); }

private:
    std::string m_base;
    std::string m_online;
    std::string m_bus;
    std::string m_record;
};

// Empty when `prefix` and `site` make valid topics, else why not. A prefix may
// hold levels ("chain/linewarden"); a site is one level.
std::string topicError(std::string_view prefix, std::string_view site);

// {"remote":BOOL,"noise":BOOL,"port":"open"|"lost"|"closed"}
std::string busJson(bool remote, bool noise, std::string_view port);

// Where the broker listens.
struct Endpoint {
    std::string host;
    int port = 0;
};

// A credentials file: the user on the first line, the password on the second.
struct Credentials {
    std::string user;
    std::string password;
};
Result<Credentials> parseCredentials(std::string_view fileText);

// One retained topic to publish: its slot and payload.
struct RetainedUpdate {
    int slot = 0;
    std::string payload;
};

// Decides, after each look at the board, which retained topics change: a unit
// when any field but its clock changes, or when its running clock has moved and
// kClockInterval has passed since it last went out; the bus when it changes.
// The first look publishes everything.
class RetainedTracker {
public:
    std::vector<RetainedUpdate> update(const UnitBoard& board, std::string_view port,
                                       std::chrono::milliseconds now);

private:
    struct Sent {
        std::string name, status, clock, panel, lamp;
        std::chrono::milliseconds at{0};
    };
    bool m_first = true;
    std::array<Sent, kSlots> m_units;
    std::string m_bus;
};

// Records waiting for the broker, bounded: a record that finds the queue full
// pushes out the oldest and is counted.
class RecordQueue {
public:
    explicit RecordQueue(std::size_t capacity = kRecordQueueCapacity) : m_capacity(capacity) {}

    void push(std::string record) {
        if (m_capacity == 0) {
            ++m_dropped;
            return;
        }
        if (m_items.size() >= m_capacity) {
            m_items.pop_front();
            ++m_dropped;
        }
        m_items.push_back(std::move(record));
    }
    // Back to the front, in their order: records taken but not handed over.
    void putBack(std::vector<std::string>& taken) {
        for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
            if (m_items.size() >= m_capacity) {
                ++m_dropped;  // the newer ones win the room
                continue;
            }
            m_items.push_front(std::move(*it));
        }
        taken.clear();
    }
    std::string pop() {
        std::string r = std::move(m_items.front());
        m_items.pop_front();
        return r;
    }
    bool empty() const { return m_items.empty(); }
    std::size_t size() const { return m_items.size(); }
    std::size_t capacity() const { return m_capacity; }
    std::uint64_t dropped() const { return m_dropped; }

private:
    std::size_t m_capacity;
    std::deque<std::string> m_items;
    std::uint64_t m_dropped = 0;
};

}  // namespace lw::mqtt
