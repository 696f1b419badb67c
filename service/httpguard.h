#pragma once

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <vector>

class QTcpSocket;

namespace lw::service {

// The TCP side of the web board, in front of Qt's HTTP server: it holds the
// limits the HTTP server does not have. At most kMaxClients connections at
// once (more are answered 503 and closed); a request head (request line and
// headers) of at most kMaxHead bytes, a well-formed request line, a client
// that reads its answers, and no connection idle for longer than kIdle
// before it becomes a WebSocket. A refused client gets a short answer and
// is closed; nothing it does reaches the monitor.
class HttpGuard final : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 64;
    static constexpr qsizetype kMaxHead = 8 * 1024;
    static constexpr qint64 kMaxUnread = 256 * 1024;  // answers a client left unread
    static constexpr std::chrono::seconds kIdle{15};

    explicit HttpGuard(QObject* parent = nullptr);

    int clients() const { return m_clients; }
    std::uint64_t refused() const { return m_refused; }

    // The connection from this peer is a WebSocket now: its own limits hold
    // and the idle rule no longer does.
    void markWebSocket(const QHostAddress& peer, quint16 peerPort);

    // Answers `status` with a short text, then closes.
    static void refuse(QTcpSocket* socket, int status, const char* reason);

protected:
    void incomingConnection(qintptr handle) override;

private:
    class Watch;
    void sweep();
    void released();

    int m_clients = 0;
    std::uint64_t m_refused = 0;
    std::vector<QPointer<Watch>> m_watches;
    QTimer m_sweep;
};

}  // namespace lw::service
