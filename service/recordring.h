#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace lw::service
