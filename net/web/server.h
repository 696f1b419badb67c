#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

#include "net/web/answer.h"

class QTcpSocket;

namespace lw::web {

class Connection;

// The web board's listener: it holds the budgets Qt's server has none of.
// Plain HTTP connections and WebSockets are counted apart, so live boards
// can never lock out a page load. One address may hold all but
// kKeptForOthers of either; when a budget is spent, the connection that has
// been of no use for longest (a head still coming, an idle keep-alive, an
// answer not read) makes room for the new one; only WebSockets, which are in
// use while open, are refused instead (503).
class Server final : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxHttp = 128;
    static constexpr int kMaxWebSockets = 64;
    static constexpr int kKeptForOthers = 8;
    static constexpr int kBacklog = 256;

    using Handler = std::function<Answer(const Request&)>;

    explicit Server(Handler handler, QObject* parent = nullptr);
    ~Server() override;

    // HTTPS only from here on: a client that does not complete the TLS
    // handshake (plain HTTP among them) is cut off.
    void useTls(const QSslConfiguration& tls) { m_tls = tls; }

    Answer answer(const Request& request) const { return m_handler(request); }
    // Milliseconds since the server started, the clock of quietSince().
    qint64 now() const { return m_clock.elapsed(); }
    // Connections open now, plain and WebSocket.
    std::size_t clients() const { return m_entries.size(); }

    // The connection's head asked for a WebSocket and was allowed: true when
    // the budget has room, and from then on the socket counts as one and is
    // no longer a Connection's.
    bool becomeWebSocket(Connection* connection);

Q_SIGNALS:
    // An allowed upgrade, its head still unread in the socket.
    void webSocketRequested(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr handle) override;

private:
    struct Entry {
        QTcpSocket* socket;
        Connection* http;  // null once a WebSocket
        QHostAddress peer;
    };
    int count(bool webSockets, const QHostAddress* peer = nullptr) const;
    bool makeRoom(const QHostAddress& peer);
    void release(QTcpSocket* socket);

    Handler m_handler;
    std::vector<Entry> m_entries;
    QElapsedTimer m_clock;
    QTimer m_trim;
    std::optional<QSslConfiguration> m_tls;
};

}  // namespace lw::web
