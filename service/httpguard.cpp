#include "service/httpguard.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>

namespace lw::service {

namespace {

constexpr std::chrono::seconds kSweepPeriod{5};
constexpr std::chrono::seconds kRefusedLinger{2};
constexpr int kSocketBuffer = 16 * 1024;
constexpr qint64 kReadBuffer = 64 * 1024;
constexpr int kBacklog = 256;

// METHOD SP TARGET SP HTTP/1.x: what a request line looks like; anything
// else is not worth handing on.
bool wellFormedRequestLine(const QByteArray& line) {
    static const QRegularExpression shape(QStringLiteral("^[A-Z]{1,16} [!-~]+ HTTP/1\\.[01]$"));
    return shape.match(QString::fromLatin1(line)).hasMatch();
}

}  // namespace

// Rides on one accepted socket: reads nothing, only looks at what arrives
// before the HTTP server does, and tells the guard when the socket goes.
class HttpGuard::Watch final : public QObject {
public:
    Watch(HttpGuard& guard, QTcpSocket* socket)
        : QObject(socket), m_guard(&guard), m_socket(socket) {
        m_heard.start();
        connect(socket, &QTcpSocket::readyRead, this, &Watch::look);
    }
    ~Watch() override {
        if (m_guard) m_guard->released();
    }

    QTcpSocket* socket() const { return m_socket; }
    bool webSocket = false;
    bool closing = false;

    // Silent too long, or too slow with a request head.
    bool idle() const {
        if (webSocket) return false;
        const qint64 limit = std::chrono::milliseconds(kIdle).count();
        return m_heard.elapsed() > limit || (m_head > 0 && m_headStarted.elapsed() > limit);
    }

    void look() {
        m_heard.start();
        if (m_socket->bytesToWrite() > kMaxUnread) {
            // Asking again and again without reading the answers.
            stop();
            m_socket->abort();
            return;
        }
        if (webSocket) return;
        const QByteArray fresh = m_socket->peek(m_socket->bytesAvailable());
        for (const char c : fresh) {
            if (m_head++ == 0) m_headStarted.start();
            if (m_head > kMaxHead) {
                stop();
                refuse(m_socket, 431, "Request Header Fields Too Large");
                return;
            }
            if (!m_lineDone) {
                if (c == '\n') {
                    if (m_line.endsWith('\r')) m_line.chop(1);
                    if (!m_line.isEmpty()) {  // blank lines before a request are allowed
                        m_lineDone = true;
                        if (!wellFormedRequestLine(m_line)) {
                            stop();
                            refuse(m_socket, 400, "Bad Request");
                            return;
                        }
                    }
                } else {
                    m_line += c;
                }
            }
            // "\r\n\r\n" or "\n\n" ends a head; the next request starts afresh.
            m_last = (m_last << 8) | static_cast<unsigned char>(c);
            if ((m_last & 0xFFFFFFFFu) == 0x0D0A0D0Au || (m_last & 0xFFFFu) == 0x0A0Au) {
                if (m_lineDone) {
                    m_head = 0;
                    m_line.clear();
                    m_lineDone = false;
                }
            }
        }
    }

    // Nothing more of this client reaches the HTTP server.
    void stop() {
        closing = true;
        disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
    }

private:
    QPointer<HttpGuard> m_guard;
    QTcpSocket* m_socket;
    QElapsedTimer m_heard;
    QElapsedTimer m_headStarted;
    qsizetype m_head = 0;
    QByteArray m_line;
    bool m_lineDone = false;
    std::uint32_t m_last = 0;
};

HttpGuard::HttpGuard(QObject* parent) : QTcpServer(parent) {
    m_sweep.setInterval(kSweepPeriod);
    m_sweep.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_sweep, &QTimer::timeout, this, &HttpGuard::sweep);
    // A crowd arriving at once waits to be answered rather than half-connected.
    setListenBacklogSize(kBacklog);
}

void HttpGuard::refuse(QTcpSocket* socket, int status, const char* reason) {
    const QByteArray text = QByteArray(reason) + "\n";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                  "\r\nContent-Type: text/plain\r\nContent-Length: " +
                  QByteArray::number(text.size()) + "\r\nConnection: close\r\n\r\n" + text);
    socket->disconnectFromHost();
    // A client that does not read even this is cut off.
    QTimer::singleShot(kRefusedLinger, socket, [socket] { socket->abort(); });
}

void HttpGuard::incomingConnection(qintptr handle) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    if (m_clients >= kMaxClients) {
        ++m_refused;
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        refuse(socket, 503, "Service Unavailable");
        return;
    }
    ++m_clients;
    // What a client sends faster than it is served waits in the kernel.
    socket->setReadBufferSize(kReadBuffer);
    m_watches.emplace_back(new Watch(*this, socket));
    if (!m_sweep.isActive()) m_sweep.start();
    addPendingConnection(socket);
}

void HttpGuard::released() { --m_clients; }

void HttpGuard::markWebSocket(const QHostAddress& peer, quint16 peerPort) {
    for (const QPointer<Watch>& w : m_watches) {
        if (!w || w->socket()->peerPort() != peerPort || w->socket()->peerAddress() != peer)
            continue;
        w->webSocket = true;
        // What a stalled client leaves unread stays small in the kernel too.
        w->socket()->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketBuffer);
    }
}

void HttpGuard::sweep() {
    bool anyHttp = false;
    std::erase_if(m_watches, [](const QPointer<Watch>& w) { return w.isNull(); });
    for (const QPointer<Watch>& w : m_watches) {
        if (w->idle()) {
            // Silent too long, or left behind by a request the server gave up on.
            QTcpSocket* s = w->socket();
            w->stop();
            s->abort();
            s->deleteLater();
        } else if (!w->webSocket) {
            anyHttp = true;
        }
    }
    if (!anyHttp) m_sweep.stop();
}

}  // namespace lw::service
