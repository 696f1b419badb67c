#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

#include "net/web/answer.h"

class QTcpSocket;

namespace lw::web {

class Server;

// One plain HTTP client on one socket: reads request heads (and a POST's
// body, see bodyLength), has each answered, and keeps the clock on the
// client. A head, with its body, must be whole within kHeadTime of the
// connection (or of its first byte after an answer), the next request must
// start within kIdle, and an answer not read for kWriteStall ends the
// connection. HTTP/1.0, "Connection: close" and any request with a body are
// closed as soon as their answer is sent.
class Connection final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kHeadTime{5};
    static constexpr std::chrono::seconds kIdle{10};
    static constexpr std::chrono::seconds kWriteStall{10};
    static constexpr qint64 kMaxUnread = 256 * 1024;  // answers left unread before reading on

    Connection(QTcpSocket* socket, Server& server);

    QTcpSocket* socket() const { return m_socket; }
    // Since when it has been of no use to anyone: its accept, or its last
    // answer. The oldest is the first to go when the budget is spent.
    qint64 quietSince() const { return m_quietSince; }

    // Answers `answer` and closes.
    void refuse(const Answer& answer);
    // Lets go of the socket, which another owner takes on as it is.
    void detach();

private:
    void readHeads();
    void send(const Answer& answer, bool close);
    void written();
    void arm(std::chrono::milliseconds limit);

    QTcpSocket* m_socket;
    Server& m_server;
    QTimer m_clock;
    qint64 m_quietSince = 0;
    bool m_headStarted = false;
    bool m_closing = false;
};

}  // namespace lw::web
