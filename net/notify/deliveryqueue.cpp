#include "net/notify/deliveryqueue.h"

#include <algorithm>

namespace lw::notify {

DeliveryQueue::DeliveryQueue(std::size_t channels, QueuePolicy policy)
    : m_policy(policy), m_channels(channels) {}

void DeliveryQueue::record(const Delivery& d) {
    if (m_policy.logSize == 0) return;
    // Ids only grow, so the log is sorted by id.
    const auto at = std::lower_bound(m_log.begin(), m_log.end(), d.id,
                                     [](const Delivery& e, std::uint64_t id) { return e.id < id; });
    if (at != m_log.end() && at->id == d.id) {
        *at = d;
        return;
    }
    if (at != m_log.end()) return;  // older than anything kept: fallen off the log
    m_log.push_back(d);
    while (m_log.size() > m_policy.logSize) m_log.pop_front();
}

Delivery DeliveryQueue::offer(std::size_t channel, std::shared_ptr<const Message> message,
                              std::int64_t nowMs) {
    Channel& ch = m_channels.at(channel);
    Delivery d;
    d.id = m_nextId++;
    d.channel = channel;
    d.message = std::move(message);
    d.queuedMs = nowMs;
    if (ch.waiting.size() >= m_policy.maxQueued) {
        d.state = DeliveryState::Dropped;
        d.error = "queue full";
        ++m_dropped;
        if (!ch.dropping) m_events.push_back({QueueEvent::Kind::Dropping, channel, d.error, 0});
        ch.dropping = true;
    } else {
        ch.dropping = false;
        ch.waiting.push_back(d);
    }
    record(d);
    return d;
}

void DeliveryQueue::giveUpExpired(Channel& ch, std::size_t index, std::int64_t nowMs) {
    while (!ch.inFlight && !ch.waiting.empty() &&
           nowMs - ch.waiting.front().queuedMs >= m_policy.giveUpMs) {
        Delivery d = std::move(ch.waiting.front());
        ch.waiting.pop_front();
        d.state = DeliveryState::Failed;
        const std::string limit =
            "not taken within " + std::to_string(m_policy.giveUpMs / 60'000) + " min";
        d.error = d.error.empty() ? limit : limit + ": " + d.error;
        ++m_failed;
        if (!ch.gaveUpInStreak) m_events.push_back({QueueEvent::Kind::GaveUp, index, d.error, 0});
        ch.gaveUpInStreak = true;
        record(d);
    }
}

std::vector<DeliveryQueue::Attempt> DeliveryQueue::due(std::int64_t nowMs) {
    std::vector<Attempt> start;
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        Channel& ch = m_channels[i];
        giveUpExpired(ch, i, nowMs);
        if (ch.inFlight || ch.waiting.empty() || nowMs < ch.nextTryMs) continue;
        Delivery& head = ch.waiting.front();
        ++head.attempts;
        ch.inFlight = true;
        record(head);
        start.push_back({i, head.id, head.message});
    }
    return start;
}

void DeliveryQueue::finished(std::size_t channel, std::uint64_t id, bool taken,
                             const std::string& error, std::int64_t nowMs) {
    Channel& ch = m_channels.at(channel);
    if (!ch.inFlight || ch.waiting.empty() || ch.waiting.front().id != id) return;
    ch.inFlight = false;
    Delivery& head = ch.waiting.front();
    if (taken) {
        if (ch.streak > 0)
            m_events.push_back({QueueEvent::Kind::Recovered, channel, {}, ch.streak});
        ch.streak = 0;
        ch.lastError.clear();
        ch.gaveUpInStreak = false;
        ch.nextTryMs = nowMs;
        head.state = DeliveryState::Taken;
        head.sentMs = nowMs;
        head.error.clear();
        record(head);
        ch.waiting.pop_front();
        return;
    }
    if (ch.streak == 0) m_events.push_back({QueueEvent::Kind::Failing, channel, error, 0});
    // 5 s, 10 s, 20 s ... up to the cap; the shift stops growing long before overflow.
    const int doublings = std::min(ch.streak, 20);
    ch.nextTryMs = nowMs + std::min(m_policy.firstRetryMs * (std::int64_t{1} << doublings),
                                    m_policy.maxRetryMs);
    ++ch.streak;
    ch.lastError = error;
    head.error = error;
    record(head);
    giveUpExpired(ch, channel, nowMs);
}

std::optional<std::int64_t> DeliveryQueue::nextDueMs() const {
    std::optional<std::int64_t> next;
    for (const Channel& ch : m_channels) {
        if (ch.inFlight || ch.waiting.empty()) continue;
        const std::int64_t at =
            std::min(ch.nextTryMs, ch.waiting.front().queuedMs + m_policy.giveUpMs);
        if (!next || at < *next) next = at;
    }
    return next;
}

std::vector<QueueEvent> DeliveryQueue::takeEvents() {
    std::vector<QueueEvent> out;
    out.swap(m_events);
    return out;
}

std::size_t DeliveryQueue::pending() const {
    std::size_t n = 0;
    for (const Channel& ch : m_channels) n += ch.waiting.size();
    return n;
}

std::optional<std::string> DeliveryQueue::problem(std::size_t channel) const {
    const Channel& ch = m_channels.at(channel);
    if (ch.streak > 0) return ch.lastError;
    if (ch.dropping) return std::string("queue full, new messages dropped");
    return std::nullopt;
}

}  // namespace lw::notify
