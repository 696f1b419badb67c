#include "net/web/connection.h"

#include <QTcpSocket>
#include <string_view>

#include "net/web/requestparser.h"
#include "net/web/server.h"

namespace lw::web {

namespace {

constexpr qint64 kReadBuffer = 64 * 1024;  // what a client sends faster waits in the kernel
constexpr std::chrono::seconds kCloseLinger{2};

}  // namespace

Connection::Connection(QTcpSocket* socket, Server& server)
    : QObject(socket), m_socket(socket), m_server(server), m_quietSince(server.now()) {
    m_socket->setReadBufferSize(kReadBuffer);
    m_clock.setSingleShot(true);
    m_clock.setTimerType(Qt::CoarseTimer);
    connect(&m_clock, &QTimer::timeout, m_socket, &QTcpSocket::abort);
    connect(m_socket, &QTcpSocket::readyRead, this, &Connection::readHeads);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::written);
    arm(kHeadTime);
}

void Connection::arm(std::chrono::milliseconds limit) { m_clock.start(limit); }

void Connection::readHeads() {
    while (!m_closing) {
        // Asking on and on without reading the answers: the rest waits.
        if (m_socket->bytesToWrite() > kMaxUnread) return;
        const QByteArray head = m_socket->peek(static_cast<qint64>(kMaxHead) + 1);
        if (head.isEmpty()) return;
        if (!m_headStarted) {
            m_headStarted = true;
            arm(kHeadTime);
        }
        ParseResult p = parseRequestHead(std::string_view(head.constData(), head.size()));
        if (p.outcome == ParseResult::Outcome::NeedMore) return;
        if (p.outcome == ParseResult::Outcome::Refused) {
            refuse(refusal(p.status));
            return;
        }
        // A POST's body must be whole within the head's time too; one that
        // cannot be taken is refused before a byte of it is read.
        const BodyLength body = bodyLength(p.request);
        if (body.refused != 0) {
            refuse(refusal(body.refused));
            return;
        }
        const auto whole = static_cast<qint64>(p.size + body.length);
        if (body.length > 0) {
            const QByteArray bytes = m_socket->peek(whole);
            if (bytes.size() < whole) return;
            p.request.body.assign(bytes.constData() + p.size, body.length);
        }
        const Answer answer = m_server.answer(p.request);
        if (answer.webSocket) {
            // Qt's WebSocket side reads the same head again, and needs CR LF.
            if (!head.left(static_cast<qsizetype>(p.size)).endsWith("\r\n\r\n")) {
                refuse(refusal(400));
            } else if (!m_server.becomeWebSocket(this)) {
                refuse(refusal(503));
            }
            return;  // either way this object is done with the socket
        }
        m_socket->skip(whole);
        m_headStarted = false;
        // A refused upgrade must not go on to become a WebSocket; a body other
        // than a POST's is never read, so nothing after it can be trusted to
        // be a request, and a POST's is closed the same for one rule.
        send(answer, !p.request.keepAlive() || p.request.hasBody() || p.request.upgrade());
    }
}

void Connection::refuse(const Answer& answer) { send(answer, true); }

void Connection::detach() {
    m_closing = true;
    m_clock.stop();
    m_socket->disconnect(this);
    deleteLater();
}

void Connection::send(const Answer& answer, bool close) {
    m_socket->write(QByteArray::fromStdString(responseBytes(answer, close)));
    m_quietSince = m_server.now();
    if (close) {
        m_closing = true;
        disconnect(m_socket, &QTcpSocket::readyRead, this, &Connection::readHeads);
        m_socket->disconnectFromHost();  // once the answer is out
        arm(kCloseLinger);               // a client that does not read even this is cut off
    } else {
        arm(m_socket->bytesToWrite() > 0 ? kWriteStall : kIdle);
    }
}

void Connection::written() {
    if (m_closing) return;
    if (m_socket->bytesToWrite() > 0) {
        arm(kWriteStall);
        return;
    }
    if (!m_headStarted) arm(kIdle);
    readHeads();  // requests held back while the answers piled up
}

}  // namespace lw::web
