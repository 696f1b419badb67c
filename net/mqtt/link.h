#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "net/mqtt/credentials.h"
#include "net/mqtt/reconnectpolicy.h"

class QSocketNotifier;
class QTimer;
struct mosquitto;

// The connection to one MQTT broker: libmosquitto driven by the event loop of
// the thread the link lives on (socket notifiers and one timer), reconnecting
// by ReconnectPolicy. It moves messages and knows nothing of what they mean.
namespace lw::mqtt {

// Where the broker listens.
struct Endpoint {
    std::string host;
    int port = 0;
};
// HOST:PORT, with brackets around an IPv6 address.
std::string where(const Endpoint& e);

struct LinkSettings {
    Endpoint broker{};
    std::string clientId{};
    // False: the broker keeps the session (subscriptions, QoS 1 messages for
    // it) while the link is away, under clientId.
    bool cleanSession = true;
    std::optional<Credentials> credentials{};
    std::string cafile{};  // TLS when not empty
    struct Will {
        std::string topic;
        std::string payload;
        bool retain = true;
    };
    std::optional<Will> will{};
};

// What the link reports, each on the link's own thread.
struct LinkEvents {
    std::function<void()> connected;                          // subscriptions are sent
    std::function<void(const std::string& why)> lost;         // a connection went; retrying
    std::function<void(const std::string& why)> unreachable;  // once per streak of one cause
    std::function<void(int mid)> acknowledged;                // a QoS 1 message reached the broker
    std::function<void(const std::string& topic, const std::string& payload)> message;
    std::function<void()> closed;  // after close(), for good
};

class Link final : public QObject {
public:
    // Checks the settings (the CA file above all); the broker is not asked yet.
    static Result<std::unique_ptr<Link>> create(LinkSettings settings, LinkEvents events);
    ~Link() override;

    // Starts connecting; a broker that is away is retried, never an error.
    void open();
    // With the broker's session up: DISCONNECT, so it drops the will, and
    // closed() once it has closed on us. Otherwise closed() at once.
    void close();

    // Subscribed now if connected, and again after every reconnect.
    void subscribe(const std::string& filter, int qos = 1);

    struct Handed {
        enum class How {
            Sent,     // on its way
            Kept,     // the connection failed under it: the library sends it again first
            Refused,  // not taken (why)
        };
        How how = How::Refused;
        int mid = 0;
        std::string why;
    };
    Handed publish(const std::string& topic, std::string_view payload, bool retain, int qos = 1);

    bool isConnected() const { return m_policy.state() == LinkState::Connected; }
    // Messages handed over and not yet acknowledged by the broker.
    std::size_t unacknowledged() const { return m_unacknowledged; }

private:
    Link(mosquitto* mosq, LinkSettings settings, LinkEvents events);

    void handle(LinkEvent event, std::string_view why = {});
    void attempt(bool first);
    void readOrWrite();
    void checkKeepalive();
    void watchSocket();
    void dropSocket();
    void destroyClient();
    std::string reason(int rc, int err) const;

    mosquitto* m_mosq;
    LinkSettings m_settings;
    LinkEvents m_events;
    ReconnectPolicy m_policy;
    std::vector<std::pair<std::string, int>> m_subscriptions;
    std::size_t m_unacknowledged = 0;
    std::string m_refusal;   // the broker's CONNACK refusal, until handled
    std::string m_libError;  // the library's last logged error (TLS)

    qintptr m_fd = -1;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    QTimer* m_timer;
};

}  // namespace lw::mqtt
