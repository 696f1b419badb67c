#pragma once

#include <QObject>
#include <QTimer>
#include <QWebSocketServer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTcpSocket;
class QWebSocket;

namespace lw::web {

// The live boards: every WebSocket gets the board and the latest records
// when it opens, then the board and the new records after every decoder
// tick. A client is let go when it leaves more than kMaxBacklog unread
// (however it got there: pushes, or answers to its own pings) or does not
// answer a ping within kPingPeriod.
class LiveBoards final : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kRecordsOnPage = 50;
    static constexpr qint64 kMaxBacklog = 64 * 1024;
    static constexpr qint64 kMaxClientMessage = 1024;  // the page never sends anything
    static constexpr std::chrono::seconds kPingPeriod{15};

    // `message(first)`: what to send, the first message to a new client or
    // the push after a tick.
    using Message = std::function<std::string(bool first)>;

    // How the messages' bytes are text: the board's unit names are Latin-1.
    enum class Encoding { Latin1, Utf8 };
    explicit LiveBoards(Message message, QObject* parent = nullptr,
                        Encoding encoding = Encoding::Latin1);
    ~LiveBoards() override;

    // For a front end whose first message is bigger than kMaxBacklog.
    void setMaxBacklog(qint64 bytes) { m_maxBacklog = bytes; }
    std::size_t clients() const { return m_clients.size(); }

    // An allowed upgrade: its head is still unread in `socket`.
    void take(QTcpSocket* socket);
    // After a decoder tick.
    void push();

private:
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        bool answered = true;  // the last ping's pong came back
    };
    void opened();
    void ping();
    void drop(QWebSocket* socket);

    QString text(const std::string& bytes) const;

    Message m_message;
    Encoding m_encoding;
    qint64 m_maxBacklog = kMaxBacklog;
    QWebSocketServer m_handshakes;
    std::vector<Client> m_clients;
    QTimer m_pings;
};

}  // namespace lw::web
