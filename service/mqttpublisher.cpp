#include "service/mqttpublisher.h"

#include <mosquitto.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "core/unitboard.h"

namespace lw::mqtt {

namespace {

constexpr int kKeepaliveSeconds = 60;
// mosquitto_loop_misc sends the keepalive ping; a quarter of the keepalive
// keeps the ping well inside the broker's 1.5 x keepalive limit.
constexpr std::chrono::milliseconds kMiscPeriod{15'000};
constexpr std::chrono::milliseconds kConnectTimeout{15'000};
constexpr std::chrono::milliseconds kFirstRetry{1'000};
constexpr std::chrono::milliseconds kLongestRetry{30'000};
// A connection that held this long starts the back-off again from the first step.
constexpr std::chrono::milliseconds kSteadyConnection{10'000};
// Records handed to the client library and not yet acknowledged: enough to
// fill a slow link, few enough that the bounded queue holds nearly all of a
// backlog (the library keeps its share across reconnects and sends it first).
constexpr std::size_t kRecordWindow = 16;

std::once_flag g_libInit;

std::string where(const Endpoint& e) {
    const bool v6 = e.host.find(':') != std::string::npos;
    return (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port);
}

}  // namespace

// What the monitoring thread and the publisher's thread share, under `mutex`.
struct Shared {
    explicit Shared(std::size_t capacity) : records(capacity) {}

    mutable std::mutex mutex;
    RecordQueue records;
    std::array<std::string, kRetainedSlots> latest;
    std::bitset<kRetainedSlots> dirty;
    bool wakePending = false;
    std::uint64_t delivered = 0;
    bool connected = false;
};

// The broker connection, on the publisher's thread: libmosquitto driven by the
// thread's event loop (socket notifiers and timers), reconnecting with back-off.
class Link final : public QObject {
public:
    Link(mosquitto* mosq, const Settings& settings, std::shared_ptr<Shared> shared,
         Publisher::Tell tell)
        : m_mosq(mosq),
          m_broker(settings.broker),
          m_topics(settings.prefix, settings.site),
          m_shared(std::move(shared)),
          m_tell(std::move(tell)) {
        mosquitto_user_data_set(m_mosq, this);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
            static_cast<Link*>(self)->onConnect(rc);
        });
        mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* self, int mid) {
            static_cast<Link*>(self)->onPublish(mid);
        });
        mosquitto_log_callback_set(m_mosq, [](mosquitto*, void* self, int level, const char* s) {
            if (level & MOSQ_LOG_ERR) static_cast<Link*>(self)->m_libError = s;
        });
    }
    ~Link() override {
        if (m_mosq) mosquitto_destroy(m_mosq);
    }

    void begin() {
        m_retry = timer(Qt::CoarseTimer, [this] { attempt(); });
        m_misc = timer(Qt::VeryCoarseTimer, [this] { misc(); });
        m_connectTimeout = timer(Qt::CoarseTimer, [this] {
            down("no answer within " + std::to_string(kConnectTimeout.count() / 1000) + " s");
        });
        m_deadline = timer(Qt::CoarseTimer, [this] { goOffline(); });
        attempt();
    }

    void drain() {
        std::vector<std::pair<int, std::string>> retained;
        std::vector<std::string> records;
        std::uint64_t dropped = 0;
        bool caughtUp = false;
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->wakePending = false;
            dropped = m_shared->records.dropped();
            if (m_state == State::Connected && !m_offline) {
                for (int s = 0; s < kRetainedSlots; ++s) {
                    if (m_shared->dirty[static_cast<std::size_t>(s)]) {
                        retained.emplace_back(s, m_shared->latest[static_cast<std::size_t>(s)]);
                    }
                }
                m_shared->dirty.reset();
                while (m_recordMids.size() + records.size() < kRecordWindow &&
                       !m_shared->records.empty()) {
                    records.push_back(m_shared->records.pop());
                }
                caughtUp = m_shared->records.empty();
            }
        }
        tellDrops(dropped, caughtUp);
        if (m_state != State::Connected || m_offline) return;

        if (m_onlineDue) {
            m_onlineDue = false;
            send(m_topics.online(), "1", true, nullptr);
        }
        for (const auto& [slot, payload] : retained) {
            if (payload.empty()) continue;  // never looked at yet
            send(m_topics.slot(slot), payload, true, nullptr);
        }
        std::size_t sent = 0;
        while (sent < records.size()) {
            int mid = 0;
            const int rc = send(m_topics.record(), records[sent++], false, &mid);
            if (held(rc)) {
                m_recordMids.insert(mid);
            } else {
                tell("MQTT: a record could not be published (" +
                     std::string(mosquitto_strerror(rc)) + ")");
            }
            if (rc != MOSQ_ERR_SUCCESS) break;  // the rest wait for the next connection
        }
        if (sent < records.size()) {
            records.erase(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(sent));
            std::lock_guard lock(m_shared->mutex);
            m_shared->records.putBack(records);
        }
        afterIo();
        if (m_stopping) finishIfDone();
    }

    // Delivers what it can within `grace`, then says "0" and disconnects.
    void finish(std::chrono::milliseconds grace) {
        m_stopping = true;
        m_retry->stop();
        if (m_state != State::Connected) {
            end();
            return;
        }
        m_deadline->start(grace);
        drain();
    }

private:
    enum class State { Down, Connecting, Connected };

    QTimer* timer(Qt::TimerType type, std::function<void()> f) {
        auto* t = new QTimer(this);
        t->setSingleShot(type != Qt::VeryCoarseTimer);
        t->setTimerType(type);
        connect(t, &QTimer::timeout, this, std::move(f));
        return t;
    }

    static bool held(int rc) {
        // The library keeps a QoS 1 message it has queued even when the
        // connection failed under it, and sends it again after reconnecting.
        return rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ||
               rc == MOSQ_ERR_ERRNO;
    }

    int send(const std::string& topic, std::string_view payload, bool retain, int* mid) {
        const int rc =
            mosquitto_publish(m_mosq, mid, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, retain);
        if (held(rc)) ++m_outstanding;
        if (rc != MOSQ_ERR_SUCCESS && held(rc)) m_ioError = reason(rc, errno);
        return rc;
    }

    void tell(const std::string& line) {
        if (m_tell) {
            m_tell(line);
        } else {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        }
    }

    std::string reason(int rc, int err) const {
        if (rc == MOSQ_ERR_ERRNO) return std::system_category().message(err);
        if (rc == MOSQ_ERR_CONN_REFUSED && !m_refusal.empty()) return m_refusal;
        if (rc == MOSQ_ERR_TLS && !m_libError.empty()) return m_libError;
        return mosquitto_strerror(rc);
    }

    // Once when records start to be pushed out of the full queue, and once
    // with the count when the broker has taken the backlog.
    void tellDrops(std::uint64_t dropped, bool caughtUp) {
        if (dropped == m_dropsTold) return;
        if (!m_dropping) {
            m_dropping = true;
            tell("MQTT: the record queue is full (" + std::to_string(m_shared->records.capacity()) +
                 " records): the oldest are dropped until the broker takes them");
        }
        if (caughtUp) {
            tell("MQTT: the broker has the backlog; " + std::to_string(dropped - m_dropsTold) +
                 " records were dropped while the queue was full");
            m_dropsTold = dropped;
            m_dropping = false;
        }
    }

    void attempt() {
        m_refusal.clear();
        m_libError.clear();
        m_ioError.clear();
        const int rc = m_tried ? mosquitto_reconnect_async(m_mosq)
                               : mosquitto_connect_async(m_mosq, m_broker.host.c_str(),
                                                         m_broker.port, kKeepaliveSeconds);
        const int err = errno;
        m_tried = true;
        if (rc != MOSQ_ERR_SUCCESS) {
            down(reason(rc, err));
            return;
        }
        m_state = State::Connecting;
        m_connectTimeout->start(kConnectTimeout);
        syncSocket();
    }

    void onConnect(int rc) {
        if (rc != 0) {
            m_refusal = mosquitto_connack_string(rc);
            m_refused = true;
            return;
        }
        m_state = State::Connected;
        m_connectTimeout->stop();
        m_misc->start(kMiscPeriod);
        m_since.start();
        m_onlineDue = true;
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->dirty.set();
            m_shared->connected = true;
        }
        tell("MQTT: connected to the broker " + where(m_broker));
        m_told.clear();
        // Publishing waits until this read is over: the library sends the
        // messages it still holds from before first, so the order stays.
        m_drainDue = true;
    }

    void onPublish(int mid) {
        if (m_outstanding > 0) --m_outstanding;
        if (m_recordMids.erase(mid) != 0) {
            std::lock_guard lock(m_shared->mutex);
            ++m_shared->delivered;
        }
        m_drainDue = true;
    }

    void activity() {
        const int rc = mosquitto_loop(m_mosq, 0, 1);
        const int err = errno;
        if (m_refused) {
            m_refused = false;
            down(m_refusal);
            return;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            down(reason(rc, err));
            return;
        }
        afterIo();
    }

    void misc() {
        const int rc = mosquitto_loop_misc(m_mosq);
        if (rc != MOSQ_ERR_SUCCESS) {
            down(rc == MOSQ_ERR_KEEPALIVE ? "no answer to the keepalive" : reason(rc, errno));
            return;
        }
        afterIo();
    }

    void afterIo() {
        if (!m_ioError.empty()) {
            const std::string why = m_ioError;
            down(why);
            return;
        }
        syncSocket();
        if (m_drainDue && m_state == State::Connected) {
            m_drainDue = false;
            QMetaObject::invokeMethod(this, &Link::drain, Qt::QueuedConnection);
        }
        if (m_stopping) finishIfDone();
    }

    // Notifiers follow the library's socket; writing is watched only while
    // the library has something to write.
    void syncSocket() {
        const auto fd = static_cast<qintptr>(mosquitto_socket(m_mosq));
        if (fd != m_fd) {
            dropNotifiers();
            m_fd = fd;
            if (fd < 0) return;
            m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            connect(m_read, &QSocketNotifier::activated, this, &Link::activity);
            connect(m_write, &QSocketNotifier::activated, this, &Link::activity);
        }
        if (m_write) m_write->setEnabled(mosquitto_want_write(m_mosq));
    }

    void dropNotifiers() {
        // May run inside a notifier's own signal: disable now, delete later.
        for (QSocketNotifier* n : {m_read, m_write}) {
            if (!n) continue;
            n->setEnabled(false);
            n->deleteLater();
        }
        m_read = m_write = nullptr;
        m_fd = -1;
    }

    void down(const std::string& why) {
        dropNotifiers();
        m_misc->stop();
        m_connectTimeout->stop();
        const bool wasUp = m_state == State::Connected;
        m_state = State::Down;
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->connected = false;
        }
        if (m_offline) {  // the broker closed on our DISCONNECT
            end();
            return;
        }
        if (wasUp) {
            if (m_since.isValid() && m_since.elapsed() >= kSteadyConnection.count()) {
                m_backoff = kFirstRetry;
            }
            tell("MQTT: lost the broker " + where(m_broker) + " (" + why +
                 "); records are kept until it is back");
            m_told.clear();
        } else if (why != m_told) {
            tell("MQTT: cannot connect to the broker " + where(m_broker) + " (" + why +
                 "); retrying with back-off up to " + std::to_string(kLongestRetry.count() / 1000) +
                 " s");
            m_told = why;
        }
        if (m_stopping) {
            end();
            return;
        }
        m_retry->start(m_backoff);
        m_backoff = std::min(m_backoff * 2, kLongestRetry);
    }

    void finishIfDone() {
        if (m_offline || m_state != State::Connected) return;
        bool empty = false;
        {
            std::lock_guard lock(m_shared->mutex);
            empty = m_shared->records.empty();
        }
        if (empty && m_outstanding == 0) goOffline();
    }

    // A clean stop: "0" on the online topic, then DISCONNECT, which makes the
    // broker drop the will. Every record has its acknowledgement by then, or
    // the grace has run out.
    void goOffline() {
        if (m_offline) return;
        m_offline = true;
        m_deadline->stop();
        if (m_state == State::Connected) {
            send(m_topics.online(), "0", true, nullptr);
            mosquitto_disconnect(m_mosq);
            syncSocket();
            if (m_write && m_write->isEnabled()) {
                // Let the last packets leave; the broker then closes on us.
                m_deadline->start(std::chrono::milliseconds{1000});
                connect(m_deadline, &QTimer::timeout, this, &Link::end);
                return;
            }
        }
        end();
    }

    void end() {
        if (m_ended) return;
        m_ended = true;
        std::size_t left = 0;
        {
            std::lock_guard lock(m_shared->mutex);
            left = m_shared->records.size();
            m_shared->connected = false;
        }
        // Handed over before a clean DISCONNECT, a record is on its way.
        if (!m_offline) left += m_recordMids.size();
        if (left > 0) {
            tell("MQTT: " + std::to_string(left) + " records were not delivered to the broker");
        }
        dropNotifiers();
        for (QTimer* t : {m_retry, m_misc, m_connectTimeout, m_deadline}) t->stop();
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
        QThread::currentThread()->quit();
    }

    mosquitto* m_mosq;
    Endpoint m_broker;
    Topics m_topics;
    std::shared_ptr<Shared> m_shared;
    Publisher::Tell m_tell;

    State m_state = State::Down;
    bool m_tried = false;
    bool m_refused = false;
    bool m_onlineDue = false;
    bool m_drainDue = false;
    bool m_stopping = false;
    bool m_offline = false;
    bool m_ended = false;
    bool m_dropping = false;
    std::uint64_t m_dropsTold = 0;  // drops counted in a line already
    std::string m_refusal;
    std::string m_libError;
    std::string m_ioError;
    std::string m_told;  // the failure last told, so a streak is told once
    std::chrono::milliseconds m_backoff = kFirstRetry;
    QElapsedTimer m_since;
    std::set<int> m_recordMids;     // records handed over, not yet acknowledged
    std::size_t m_outstanding = 0;  // every message handed over, not yet acknowledged

    qintptr m_fd = -1;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer* m_retry = nullptr;
    QTimer* m_misc = nullptr;
    QTimer* m_connectTimeout = nullptr;
    QTimer* m_deadline = nullptr;
};

Publisher::Publisher(Settings settings, Tell tell)
    : m_settings(std::move(settings)),
      m_tell(std::move(tell)),
      m_shared(std::make_shared<Shared>(m_settings.queueCapacity)) {}

Publisher::~Publisher() { stop(); }

Result<> Publisher::start() {
    if (m_started) return {};
    if (std::string why = topicError(m_settings.prefix, m_settings.site); !why.empty()) {
        return Result<>::failure(why);
    }
    std::call_once(g_libInit, [] { mosquitto_lib_init(); });

    // A stable client id: a service that comes back after a crash takes the
    // broker's stale session over at once, so its will cannot land after "1".
    const std::string id = m_settings.prefix + "/" + m_settings.site;
    mosquitto* mosq = mosquitto_new(id.c_str(), true, nullptr);
    if (!mosq) return Result<>::failure("cannot make an MQTT client");
    const Topics topics(m_settings.prefix, m_settings.site);
    int rc = mosquitto_will_set(mosq, topics.online().c_str(), 1, "0", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && m_settings.credentials) {
        rc = mosquitto_username_pw_set(mosq, m_settings.credentials->user.c_str(),
                                       m_settings.credentials->password.c_str());
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(mosq);
        return Result<>::failure(mosquitto_strerror(rc));
    }
    if (!m_settings.cafile.empty()) {
        rc = mosquitto_tls_set(mosq, m_settings.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(mosq);
            return Result<>::failure("cannot use the CA file " + m_settings.cafile + " (" +
                                     mosquitto_strerror(rc) + ")");
        }
    }

    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("mqtt"));
    m_link = new Link(mosq, m_settings, m_shared, m_tell);
    m_link->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(m_link, &Link::begin, Qt::QueuedConnection);
    m_started = true;
    return {};
}

void Publisher::stop(std::chrono::milliseconds grace) {
    if (!m_started) return;
    m_started = false;
    Link* link = m_link;
    QMetaObject::invokeMethod(
        link, [link, grace] { link->finish(grace); }, Qt::QueuedConnection);
    if (!m_thread->wait(QDeadlineTimer(grace.count() + 1000))) {
        // Stuck in a name lookup or a connect: leave it to the process's end.
        m_thread.release();
        m_link = nullptr;
        return;
    }
    delete m_link;
    m_link = nullptr;
    m_thread.reset();
}

void Publisher::board(const UnitBoard& board, std::string_view port) {
    if (!m_started) return;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    std::vector<RetainedUpdate> changes = m_tracker.update(board, port, now);
    if (changes.empty()) return;
    {
        std::lock_guard lock(m_shared->mutex);
        for (RetainedUpdate& c : changes) {
            m_shared->latest[static_cast<std::size_t>(c.slot)] = std::move(c.payload);
            m_shared->dirty.set(static_cast<std::size_t>(c.slot));
        }
    }
    wake();
}

void Publisher::record(std::string_view text) {
    if (!m_started) return;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->records.push(std::string(text));
    }
    wake();
}

void Publisher::wake() {
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->wakePending) return;
        m_shared->wakePending = true;
    }
    QMetaObject::invokeMethod(m_link, &Link::drain, Qt::QueuedConnection);
}

Stats Publisher::stats() const {
    std::lock_guard lock(m_shared->mutex);
    return {m_shared->delivered, m_shared->records.dropped(), m_shared->records.size(),
            m_shared->connected};
}

}  // namespace lw::mqtt
