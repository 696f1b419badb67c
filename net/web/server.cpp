#include "net/web/server.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "net/web/connection.h"

namespace lw::web {

Server::Server(Handler handler, QObject* parent)
    : QTcpServer(parent), m_handler(std::move(handler)) {
    m_clock.start();
    // A crowd arriving at once waits to be answered rather than half-connected.
    setListenBacklogSize(kBacklog);
    // After a crowd has come and gone the allocator keeps what it freed;
    // measured, giving it back brings the heap to its resting size again.
    m_trim.setSingleShot(true);
    m_trim.setInterval(std::chrono::seconds(1));
    m_trim.setTimerType(Qt::VeryCoarseTimer);
#ifdef __GLIBC__
    connect(&m_trim, &QTimer::timeout, this, [] { malloc_trim(0); });
#endif
}

Server::~Server() {
    // Sockets are children and go with the server; nothing to count then.
    for (const Entry& e : m_entries) e.socket->disconnect(this);
}

int Server::count(bool webSockets, const QHostAddress* peer) const {
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return (e.http == nullptr) == webSockets && (!peer || e.peer.isEqual(*peer));
    }));
}

bool Server::makeRoom(const QHostAddress& peer) {
    const bool addressFull = count(false, &peer) >= kMaxHttp - kKeptForOthers;
    if (!addressFull && count(false) < kMaxHttp) return true;
    // The quietest of this address when it holds too many, else of anyone.
    const Entry* victim = nullptr;
    for (const Entry& e : m_entries) {
        if (!e.http || (addressFull && !e.peer.isEqual(peer))) continue;
        if (!victim || e.http->quietSince() < victim->http->quietSince()) victim = &e;
    }
    if (!victim) return false;
    QTcpSocket* socket = victim->socket;
    release(socket);
    socket->abort();
    return true;
}

void Server::incomingConnection(qintptr handle) {
    QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    const QHostAddress peer = socket->peerAddress();
    if (!makeRoom(peer)) {
        socket->abort();
        return;
    }
    if (m_tls) {
        auto* tls = static_cast<QSslSocket*>(socket);
        tls->setSslConfiguration(*m_tls);
        connect(tls, &QSslSocket::sslErrors, tls, &QAbstractSocket::abort);
        connect(tls, &QAbstractSocket::errorOccurred, tls, [tls](QAbstractSocket::SocketError e) {
            if (e == QAbstractSocket::SslHandshakeFailedError) tls->abort();
        });
        tls->startServerEncryption();
    }
    auto* connection = new Connection(socket, *this);
    m_entries.push_back(Entry{socket, connection, peer});
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { release(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { release(socket); });
}

bool Server::becomeWebSocket(Connection* connection) {
    QTcpSocket* socket = connection->socket();
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [socket](const Entry& e) { return e.socket == socket; });
    if (it == m_entries.end()) return false;
    if (count(true) >= kMaxWebSockets ||
        count(true, &it->peer) >= kMaxWebSockets - kKeptForOthers) {
        return false;
    }
    it->http = nullptr;
    connection->detach();
    // Qt's WebSocket side deletes the socket when it is done with it.
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    Q_EMIT webSocketRequested(socket);
    return true;
}

void Server::release(QTcpSocket* socket) {
    if (std::erase_if(m_entries, [socket](const Entry& e) { return e.socket == socket; }) > 0 &&
        !m_trim.isActive()) {
        m_trim.start();
    }
}

}  // namespace lw::web
