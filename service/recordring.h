#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/boardjson.h"
#include "core/reports.h"

namespace lw::service {

// One activity record as the service keeps it for its clients.
struct ServiceRecord {
    std::uint64_t seq = 0;  // 1 for the first record since the start
    ReportKind kind = ReportKind::RawBlock;
    std::string time;
    std::string date;
    std::string text;  // as appended to the log, CR LF kept
    bool written = false;
    std::string json;  // {"seq":..,"time":..,"date":..,"text":..}
};

// The most recent records, numbered in order; the oldest go when it is full,
// so what the clients may ask for stays bounded.
class RecordRing {
public:
    static constexpr std::size_t kCapacity = 500;

    explicit RecordRing(std::size_t capacity = kCapacity) : m_capacity(capacity) {}

    const ServiceRecord& push(const RecordEvent& event);

    // Records with a number above `seq`, oldest first; at most the `max`
    // most recent of them.
    std::vector<const ServiceRecord*> after(std::uint64_t seq, std::size_t max) const;
    // A JSON array of the same.
    std::string jsonAfter(std::uint64_t seq, std::size_t max) const;

    std::uint64_t lastSeq() const { return m_next - 1; }
    std::size_t size() const { return m_records.size(); }

private:
    std::size_t m_capacity;
    std::uint64_t m_next = 1;
    std::deque<ServiceRecord> m_records;
};

// The most recent unit, bus and service events as JSON, numbered by the
// session; the oldest go when it is full.
class EventRing {
public:
    static constexpr std::size_t kCapacity = 100;

    void push(std::uint64_t seq, std::string json) {
        if (m_events.size() >= kCapacity) m_events.pop_front();
        m_events.push_back({seq, std::move(json)});
    }
    // A JSON array of the events numbered above `seq`, at most the `max` latest.
    std::string jsonAfter(std::uint64_t seq, std::size_t max) const {
        std::size_t first = m_events.size();
        while (first > 0 && m_events[first - 1].seq > seq && m_events.size() - first < max) --first;
        std::vector<std::string_view> items;
        for (std::size_t i = first; i < m_events.size(); ++i) items.emplace_back(m_events[i].json);
        return jsonArray(items);
    }
    std::uint64_t lastSeq() const { return m_events.empty() ? 0 : m_events.back().seq; }

private:
    struct Entry {
        std::uint64_t seq;
        std::string json;
    };
    std::deque<Entry> m_events;
};

}  // namespace lw::service
