#include "service/mqtt/outbox.h"

#include <utility>

#include "service/mqtt/payloads.h"

namespace lw::mqtt {

std::vector<RetainedUpdate> RetainedSlots::changes(const BoardView& view) {
    std::vector<RetainedUpdate> out;
    for (RetainedDoc& d : m_meaning.update(view)) {
        out.push_back({d.unit == 0 ? kBusSlot : d.unit - 1, std::move(d.json)});
    }
    return out;
}

void RecordQueue::push(std::string record) {
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

void RecordQueue::putBack(std::vector<std::string>& taken) {
    for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
        if (m_items.size() >= m_capacity) {
            ++m_dropped;  // the newer ones win the room
            continue;
        }
        m_items.push_front(std::move(*it));
    }
    taken.clear();
}

std::string RecordQueue::pop() {
    std::string r = std::move(m_items.front());
    m_items.pop_front();
    return r;
}

bool Outbox::putRetained(std::vector<RetainedUpdate> updates) {
    std::lock_guard lock(m_mutex);
    for (RetainedUpdate& u : updates) {
        m_latest[static_cast<std::size_t>(u.slot)] = std::move(u.payload);
        m_changed.set(static_cast<std::size_t>(u.slot));
    }
    return std::exchange(m_turnPending, true) == false;
}

bool Outbox::putRecord(std::string record) {
    std::lock_guard lock(m_mutex);
    m_records.push(std::move(record));
    return std::exchange(m_turnPending, true) == false;
}

bool Outbox::putEvent(std::string event) {
    std::lock_guard lock(m_mutex);
    m_events.push(std::move(event));
    return std::exchange(m_turnPending, true) == false;
}

bool Outbox::claimTurn() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_turnPending, true) == false;
}

Outbox::Batch Outbox::take(bool retained, std::size_t records) {
    Batch b;
    std::lock_guard lock(m_mutex);
    m_turnPending = false;
    if (retained) {
        for (int s = 0; s < kRetainedSlots; ++s) {
            const auto i = static_cast<std::size_t>(s);
            // A slot never looked at yet has nothing to say.
            if (m_changed[i] && !m_latest[i].empty()) b.retained.push_back({s, m_latest[i]});
        }
        m_changed.reset();
    }
    while (b.records.size() < records && !m_records.empty()) b.records.push_back(m_records.pop());
    // Events are few: all of them go whenever the link is up.
    while (retained && !m_events.empty()) b.events.push_back(m_events.pop());
    b.dropped = m_records.dropped();
    b.caughtUp = m_records.empty();
    return b;
}

void Outbox::putBack(std::vector<std::string>& records) {
    std::lock_guard lock(m_mutex);
    m_records.putBack(records);
}

void Outbox::putBackEvents(std::vector<std::string>& events) {
    std::lock_guard lock(m_mutex);
    m_events.putBack(events);
}

void Outbox::resendRetained() {
    std::lock_guard lock(m_mutex);
    m_changed.set();
}

void Outbox::countDelivered() {
    std::lock_guard lock(m_mutex);
    ++m_delivered;
}

void Outbox::setConnected(bool connected) {
    std::lock_guard lock(m_mutex);
    m_connected = connected;
}

std::size_t Outbox::recordsWaiting() const {
    std::lock_guard lock(m_mutex);
    return m_records.size();
}

Stats Outbox::stats() const {
    std::lock_guard lock(m_mutex);
    return {m_delivered, m_records.dropped(), m_records.size(), m_connected};
}

}  // namespace lw::mqtt
