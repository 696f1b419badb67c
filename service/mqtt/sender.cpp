#include "service/mqtt/sender.h"

#include <QThread>
#include <QTimer>

#include "service/mqtt/outbox.h"
#include "service/mqtt/payloads.h"
#include "service/mqtt/publisher.h"

namespace lw::mqtt {

Result<std::unique_ptr<Sender>> Sender::create(const Settings& settings,
                                               std::optional<Credentials> login,
                                               std::shared_ptr<Outbox> outbox, Journal journal) {
    using R = Result<std::unique_ptr<Sender>>;
    std::unique_ptr<Sender> sender(new Sender(settings, std::move(outbox), std::move(journal)));
    Sender* self = sender.get();
    LinkSettings ls;
    ls.broker = settings.broker;
    // A stable client id: a service that comes back after a crash takes the
    // broker's stale session over at once, so its will cannot land after "1".
    ls.clientId = settings.prefix + "/" + settings.site;
    ls.credentials = std::move(login);
    ls.cafile = settings.cafile;
    ls.will = LinkSettings::Will{self->m_topics.online(), std::string(kOffline), true};
    LinkEvents events;
    events.connected = [self] { self->onConnected(); };
    events.lost = [self](const std::string& why) { self->onLost(why); };
    events.unreachable = [self](const std::string& why) { self->onUnreachable(why); };
    events.acknowledged = [self](int mid) { self->onAcknowledged(mid); };
    events.closed = [self] { self->onClosed(); };
    events.message = [self](const std::string& topic, const std::string& payload) {
        if (self->m_onMessage) self->m_onMessage(topic, payload);
    };
    auto link = Link::create(std::move(ls), std::move(events));
    if (!link.ok) return R::failure(link.error);
    self->m_link = link.value.release();
    self->m_link->setParent(self);
    for (const std::string& filter : settings.subscriptions) self->m_link->subscribe(filter, 1);
    return R::success(std::move(sender));
}

Sender::Sender(const Settings& settings, std::shared_ptr<Outbox> outbox, Journal journal)
    : m_topics(settings.prefix, settings.site),
      m_broker(settings.broker),
      m_recordWindow(settings.recordWindow),
      m_outbox(std::move(outbox)),
      m_journal(std::move(journal)),
      m_grace(new QTimer(this)) {
    m_grace->setSingleShot(true);
    connect(m_grace, &QTimer::timeout, this, &Sender::sayGoodbye);
}

void Sender::open() { m_link->open(); }

void Sender::sendWaiting() {
    const bool up = m_link->isConnected() && m_phase != Phase::Leaving;
    const std::size_t room = m_recordWindow - std::min(m_recordWindow, m_recordMids.size());
    Outbox::Batch b = m_outbox->take(up, up ? room : 0);
    tellDrops(b.dropped, up && b.caughtUp);
    if (!up) return;

    // Other retained topics first: a discovery config comes before the states it reads.
    for (const auto& [topic, payload] : b.topics) m_link->publish(topic, payload, true);
    for (const RetainedUpdate& r : b.retained)
        m_link->publish(m_topics.slot(r.slot), r.payload, true);
    // Events QoS 1, not retained: the library keeps what it took across a
    // reconnect; what it did not take waits here for the next turn.
    std::size_t events = 0;
    while (events < b.events.size()) {
        const Link::Handed h = m_link->publish(m_topics.event(), b.events[events++], false);
        if (h.how == Link::Handed::How::Refused) {
            m_journal("MQTT: an event could not be published (" + h.why + ")");
            break;
        }
        if (h.how == Link::Handed::How::Kept) break;
    }
    if (events < b.events.size()) {
        b.events.erase(b.events.begin(), b.events.begin() + static_cast<std::ptrdiff_t>(events));
        m_outbox->putBackEvents(b.events);
    }
    std::size_t handed = 0;
    while (handed < b.records.size()) {
        const Link::Handed h = m_link->publish(m_topics.record(), b.records[handed++], false);
        if (h.how == Link::Handed::How::Refused) {
            m_journal("MQTT: a record could not be published (" + h.why + ")");
            break;
        }
        m_recordMids.insert(h.mid);
        if (h.how == Link::Handed::How::Kept) break;  // the rest wait for the next connection
    }
    if (handed < b.records.size()) {
        b.records.erase(b.records.begin(), b.records.begin() + static_cast<std::ptrdiff_t>(handed));
        m_outbox->putBack(b.records);
    }
    if (m_phase == Phase::Delivering) leaveIfDelivered();
}

void Sender::stop(std::chrono::milliseconds grace) {
    if (m_phase != Phase::Publishing) return;
    if (!m_link->isConnected()) {
        m_phase = Phase::Abandoning;
        m_link->close();
        return;
    }
    m_phase = Phase::Delivering;
    m_grace->start(grace);
    sendWaiting();
}

void Sender::onConnected() {
    m_outbox->setConnected(true);
    m_journal("MQTT: connected to the broker " + where(m_broker));
    m_link->publish(m_topics.online(), kOnline, true);
    m_outbox->resendRetained();
    sendWaiting();
}

void Sender::onLost(const std::string& why) {
    m_outbox->setConnected(false);
    m_journal("MQTT: lost the broker " + where(m_broker) + " (" + why +
           "); records are kept until it is back");
    if (m_phase == Phase::Delivering) {
        m_phase = Phase::Abandoning;
        m_link->close();
    }
}

void Sender::onUnreachable(const std::string& why) {
    m_journal("MQTT: cannot connect to the broker " + where(m_broker) + " (" + why +
           "); retrying with back-off up to " + std::to_string(kLongestRetry.count() / 1000) +
           " s");
}

void Sender::onAcknowledged(int mid) {
    if (m_recordMids.erase(mid) != 0) m_outbox->countDelivered();
    if (m_outbox->claimTurn())
        QMetaObject::invokeMethod(this, &Sender::sendWaiting, Qt::QueuedConnection);
}

// Every record has its acknowledgement: the clean goodbye need not wait.
void Sender::leaveIfDelivered() {
    if (m_outbox->recordsWaiting() == 0 && m_link->unacknowledged() == 0) sayGoodbye();
}

// A clean stop: "0" on the online topic, then DISCONNECT, which makes the
// broker drop the will. Every record has its acknowledgement by then, or the
// grace has run out.
void Sender::sayGoodbye() {
    if (m_phase != Phase::Delivering) return;
    m_phase = Phase::Leaving;
    m_grace->stop();
    m_link->publish(m_topics.online(), kOffline, true);
    m_link->close();
}

void Sender::onClosed() {
    m_outbox->setConnected(false);
    std::size_t left = m_outbox->recordsWaiting();
    // Handed over before a clean DISCONNECT, a record is on its way.
    if (m_phase != Phase::Leaving) left += m_recordMids.size();
    if (left > 0) {
        m_journal("MQTT: " + std::to_string(left) + " records were not delivered to the broker");
    }
    QThread::currentThread()->quit();
}

// Once when records start to be pushed out of the full queue, and once with
// the count when the broker has taken the backlog.
void Sender::tellDrops(std::uint64_t dropped, bool caughtUp) {
    if (dropped == m_dropsTold) return;
    if (!m_fullTold) {
        m_fullTold = true;
        m_journal("MQTT: the record queue is full (" + std::to_string(m_outbox->capacity()) +
               " records): the oldest are dropped until the broker takes them");
    }
    if (caughtUp) {
        m_journal("MQTT: the broker has the backlog; " + std::to_string(dropped - m_dropsTold) +
               " records were dropped while the queue was full");
        m_dropsTold = dropped;
        m_fullTold = false;
    }
}

}  // namespace lw::mqtt
