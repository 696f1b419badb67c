#include "service/recordring.h"

#include <algorithm>

#include "core/boardjson.h"

namespace lw::service {

const ServiceRecord& RecordRing::push(const RecordEvent& e) {
    if (m_records.size() >= m_capacity) m_records.pop_front();
    ServiceRecord& r = m_records.emplace_back();
    r.seq = m_next++;
    r.kind = e.kind;
    r.time = e.timeText;
    r.date = e.dateText;
    r.text = e.text;
    r.written = e.written;
    r.json = recordJson(r.seq, r.time, r.date, r.text, e.at);
    return r;
}

std::vector<const ServiceRecord*> RecordRing::after(std::uint64_t seq, std::size_t max) const {
    // Numbers are consecutive, so the first wanted one is found by arithmetic.
    std::vector<const ServiceRecord*> out;
    if (m_records.empty() || seq >= lastSeq() || max == 0) return out;
    const std::uint64_t first = m_records.front().seq;
    std::uint64_t from = std::max(seq + 1, first);
    from = std::max<std::uint64_t>(from,
                                   lastSeq() + 1 - std::min<std::uint64_t>(max, m_records.size()));
    for (auto it = m_records.begin() + static_cast<std::ptrdiff_t>(from - first);
         it != m_records.end(); ++it) {
        out.push_back(&*it);
    }
    return out;
}

std::string RecordRing::jsonAfter(std::uint64_t seq, std::size_t max) const {
    std::vector<std::string_view> items;
    for (const ServiceRecord* r : after(seq, max)) items.emplace_back(r->json);
    return jsonArray(items);
}

}  // namespace lw::service
