#include "net/mqtt/link.h"

#include <mosquitto.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <mutex>
#include <system_error>

namespace lw::mqtt {

namespace {

constexpr int kKeepaliveSeconds = 60;

std::once_flag g_libInit;

std::chrono::milliseconds now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

std::string where(const Endpoint& e) {
    const bool v6 = e.host.find(':') != std::string::npos;
    return (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port);
}

Result<std::unique_ptr<Link>> Link::create(LinkSettings settings, LinkEvents events) {
    using R = Result<std::unique_ptr<Link>>;
    std::call_once(g_libInit, [] { mosquitto_lib_init(); });
    mosquitto* mosq = mosquitto_new(settings.clientId.c_str(), settings.cleanSession, nullptr);
    if (!mosq) return R::failure("cannot make an MQTT client");
    // Owned from here on: the link destroys it.
    std::unique_ptr<Link> link(new Link(mosq, std::move(settings), std::move(events)));
    const LinkSettings& s = link->m_settings;
    int rc = MOSQ_ERR_SUCCESS;
    if (s.will) {
        rc = mosquitto_will_set(mosq, s.will->topic.c_str(),
                                static_cast<int>(s.will->payload.size()), s.will->payload.data(), 1,
                                s.will->retain);
    }
    if (rc == MOSQ_ERR_SUCCESS && s.credentials) {
        rc = mosquitto_username_pw_set(mosq, s.credentials->user.c_str(),
                                       s.credentials->password.c_str());
    }
    if (rc != MOSQ_ERR_SUCCESS) return R::failure(mosquitto_strerror(rc));
    if (!s.cafile.empty()) {
        rc = mosquitto_tls_set(mosq, s.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return R::failure("cannot use the CA file " + s.cafile + " (" + mosquitto_strerror(rc) +
                              ")");
        }
    }
    return R::success(std::move(link));
}

Link::Link(mosquitto* mosq, LinkSettings settings, LinkEvents events)
    : m_mosq(mosq),
      m_settings(std::move(settings)),
      m_events(std::move(events)),
      m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::CoarseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] {
        handle(LinkEvent::TimerDue,
               "no answer within " + std::to_string(kConnectTimeout.count() / 1000) + " s");
    });
    mosquitto_user_data_set(m_mosq, this);
    mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        auto* link = static_cast<Link*>(self);
        if (rc != 0) {
            link->m_refusal = mosquitto_connack_string(rc);
            return;
        }
        // Told once this read is over: the library first sends again what it
        // still holds from the last connection, so the order stays.
        QMetaObject::invokeMethod(
            link, [link] { link->handle(LinkEvent::Accepted); }, Qt::QueuedConnection);
    });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* self, int mid) {
        auto* link = static_cast<Link*>(self);
        if (link->m_unacknowledged > 0) --link->m_unacknowledged;
        if (link->m_events.acknowledged) link->m_events.acknowledged(mid);
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* link = static_cast<Link*>(self);
        if (!link->m_events.message) return;
        link->m_events.message(m->topic, std::string(static_cast<const char*>(m->payload),
                                                     static_cast<std::size_t>(m->payloadlen)));
    });
    mosquitto_log_callback_set(m_mosq, [](mosquitto*, void* self, int level, const char* s) {
        if (level & MOSQ_LOG_ERR) static_cast<Link*>(self)->m_libError = s;
    });
}

Link::~Link() { destroyClient(); }

void Link::open() { handle(LinkEvent::Open); }

void Link::close() { handle(LinkEvent::Close); }

void Link::subscribe(const std::string& filter, int qos) {
    m_subscriptions.emplace_back(filter, qos);
    if (isConnected()) mosquitto_subscribe(m_mosq, nullptr, filter.c_str(), qos);
    watchSocket();
}

Link::Handed Link::publish(const std::string& topic, std::string_view payload, bool retain,
                           int qos) {
    Handed h;
    if (!m_mosq) return {Handed::How::Refused, 0, "closed"};
    const int rc = mosquitto_publish(m_mosq, &h.mid, topic.c_str(),
                                     static_cast<int>(payload.size()), payload.data(), qos, retain);
    const int err = errno;
    switch (rc) {
        case MOSQ_ERR_SUCCESS:
            h.how = Handed::How::Sent;
            break;
        case MOSQ_ERR_NO_CONN:
        case MOSQ_ERR_CONN_LOST:
        case MOSQ_ERR_ERRNO:
            // The library keeps a QoS 1 message it has queued even when the
            // connection failed under it, and sends it again after reconnecting.
            h.how = Handed::How::Kept;
            h.why = reason(rc, err);
            // Handled once the caller is done handing over.
            QMetaObject::invokeMethod(
                this, [this, why = h.why] { handle(LinkEvent::Failed, why); },
                Qt::QueuedConnection);
            break;
        default:
            h.how = Handed::How::Refused;
            h.why = mosquitto_strerror(rc);
            return h;
    }
    ++m_unacknowledged;
    watchSocket();
    return h;
}

// One event through the policy, then what the new state asks for.
void Link::handle(LinkEvent event, std::string_view why) {
    const LinkState before = m_policy.state();
    const auto step = m_policy.on(event, now(), why);
    if (!step) return;
    m_timer->stop();
    if (step->timer.count() > 0) m_timer->start(step->timer);

    switch (step->state) {
        case LinkState::Connecting:
            attempt(before == LinkState::Idle);
            return;
        case LinkState::Connected:
            if (step->say != LinkStep::Say::Connected) {
                checkKeepalive();
                return;
            }
            for (const auto& [filter, qos] : m_subscriptions) {
                mosquitto_subscribe(m_mosq, nullptr, filter.c_str(), qos);
            }
            watchSocket();
            if (m_events.connected) m_events.connected();
            return;
        case LinkState::Waiting:
            dropSocket();
            if (step->say == LinkStep::Say::Lost && m_events.lost) m_events.lost(std::string(why));
            if (step->say == LinkStep::Say::Unreachable && m_events.unreachable) {
                m_events.unreachable(std::string(why));
            }
            return;
        case LinkState::Closing:
            mosquitto_disconnect(m_mosq);
            watchSocket();
            // Nothing left to write: the DISCONNECT is out.
            if (!m_write || !m_write->isEnabled()) handle(LinkEvent::Gone);
            return;
        case LinkState::Closed:
            destroyClient();
            if (m_events.closed)
                QMetaObject::invokeMethod(this, m_events.closed, Qt::QueuedConnection);
            return;
        case LinkState::Idle:
            return;
    }
}

void Link::attempt(bool first) {
    m_refusal.clear();
    m_libError.clear();
    const int rc = first ? mosquitto_connect_async(m_mosq, m_settings.broker.host.c_str(),
                                                   m_settings.broker.port, kKeepaliveSeconds)
                         : mosquitto_reconnect_async(m_mosq);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        handle(LinkEvent::Failed, reason(rc, err));
        return;
    }
    watchSocket();
}

void Link::readOrWrite() {
    const int rc = mosquitto_loop(m_mosq, 0, 1);
    const int err = errno;
    if (!m_refusal.empty()) {
        handle(LinkEvent::Failed, m_refusal);
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        handle(LinkEvent::Failed, reason(rc, err));
        return;
    }
    watchSocket();
}

void Link::checkKeepalive() {
    const int rc = mosquitto_loop_misc(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS) {
        handle(LinkEvent::Failed,
               rc == MOSQ_ERR_KEEPALIVE ? "no answer to the keepalive" : reason(rc, errno));
        return;
    }
    watchSocket();
}

// Notifiers follow the library's socket; writing is watched only while the
// library has something to write.
void Link::watchSocket() {
    if (!m_mosq) return;
    const auto fd = static_cast<qintptr>(mosquitto_socket(m_mosq));
    if (fd != m_fd) {
        dropSocket();
        m_fd = fd;
        if (fd < 0) return;
        m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(m_read, &QSocketNotifier::activated, this, &Link::readOrWrite);
        connect(m_write, &QSocketNotifier::activated, this, &Link::readOrWrite);
    }
    if (m_write) m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void Link::dropSocket() {
    // May run inside a notifier's own signal: disable now, delete later.
    for (QSocketNotifier* n : {m_read, m_write}) {
        if (!n) continue;
        n->setEnabled(false);
        n->deleteLater();
    }
    m_read = m_write = nullptr;
    m_fd = -1;
}

void Link::destroyClient() {
    dropSocket();
    m_timer->stop();
    if (m_mosq) mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

std::string Link::reason(int rc, int err) const {
    if (rc == MOSQ_ERR_ERRNO) return std::system_category().message(err);
    if (rc == MOSQ_ERR_CONN_REFUSED && !m_refusal.empty()) return m_refusal;
    if (rc == MOSQ_ERR_TLS && !m_libError.empty()) return m_libError;
    return mosquitto_strerror(rc);
}

}  // namespace lw::mqtt
