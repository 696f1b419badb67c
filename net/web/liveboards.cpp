#include "net/web/liveboards.h"

#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>

namespace lw::web {

namespace {

constexpr int kSocketBuffer = 16 * 1024;  // what a stalled client leaves unread stays small in the kernel too

}  // namespace

LiveBoards::LiveBoards(Message message, QObject* parent, Encoding encoding)
    : QObject(parent),
      m_message(std::move(message)),
      m_encoding(encoding),
      m_handshakes(QStringLiteral("linewarden"), QWebSocketServer::NonSecureMode) {
    m_handshakes.setMaxPendingConnections(8);
    connect(&m_handshakes, &QWebSocketServer::newConnection, this, &LiveBoards::opened);
    m_pings.setInterval(kPingPeriod);
    m_pings.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_pings, &QTimer::timeout, this, &LiveBoards::ping);
}

LiveBoards::~LiveBoards() { m_clients.clear(); }

QString LiveBoards::text(const std::string& s) const {
    const auto n = static_cast<qsizetype>(s.size());
    return m_encoding == Encoding::Utf8 ? QString::fromUtf8(s.data(), n)
                                        : QString::fromLatin1(s.data(), n);
}

void LiveBoards::take(QTcpSocket* socket) {
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketBuffer);
    // Connected before Qt's own handlers, so it looks first at every read:
    // a client that floods pings and never reads the pongs is cut off here.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket->bytesToWrite() > m_maxBacklog) socket->abort();
    });
    m_handshakes.handleConnection(socket);
}

void LiveBoards::opened() {
    while (m_handshakes.hasPendingConnections()) {
        std::unique_ptr<QWebSocket> ws(m_handshakes.nextPendingConnection());
        if (!ws) break;
        QWebSocket* s = ws.get();
        s->setMaxAllowedIncomingFrameSize(kMaxClientMessage);
        s->setMaxAllowedIncomingMessageSize(kMaxClientMessage);
        s->setReadBufferSize(kMaxClientMessage);
        connect(s, &QWebSocket::disconnected, this, [this, s] { drop(s); });
        connect(s, &QWebSocket::pong, this, [this, s] {
            for (Client& c : m_clients) {
                if (c.socket.get() == s) c.answered = true;
            }
        });
        s->sendTextMessage(text(m_message(true)));
        m_clients.push_back(Client{std::move(ws)});
        if (!m_pings.isActive()) m_pings.start();
    }
}

void LiveBoards::push() {
    const std::string message = m_message(false);  // read even with no one to tell
    if (m_clients.empty()) return;
    const QString text = this->text(message);
    std::vector<QWebSocket*> stalled;
    for (const Client& c : m_clients) {
        // A client that stopped reading is let go before it costs memory.
        if (c.socket->bytesToWrite() > m_maxBacklog) {
            stalled.push_back(c.socket.get());
        } else {
            c.socket->sendTextMessage(text);
        }
    }
    for (QWebSocket* s : stalled) drop(s);
}

void LiveBoards::ping() {
    std::vector<QWebSocket*> silent;
    for (Client& c : m_clients) {
        if (!c.answered) {
            silent.push_back(c.socket.get());
        } else {
            c.answered = false;
            c.socket->ping();
        }
    }
    for (QWebSocket* s : silent) drop(s);
    if (m_clients.empty()) m_pings.stop();
}

void LiveBoards::drop(QWebSocket* socket) {
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const Client& c) { return c.socket.get() == socket; });
    if (it == m_clients.end()) return;
    QWebSocket* gone = it->socket.release();
    m_clients.erase(it);
    gone->disconnect(this);
    gone->abort();
    gone->deleteLater();
}

}  // namespace lw::web
