#include "service/webboard.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>

#include "core/boardjson.h"
#include "core/textutil.h"
#include "service/httpguard.h"

namespace lw::service {

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr qint64 kMaxTokenFile = 4096;
constexpr qint64 kMaxClientMessage = 1024;  // the page never sends anything
constexpr std::chrono::seconds kCloseLinger{2};

const QByteArray kJson = QByteArrayLiteral("application/json");
const QByteArray kText = QByteArrayLiteral("text/plain; charset=utf-8");

// The page loads nothing from anywhere, may talk only to its own origin and
// may not be framed.
const QByteArray kPagePolicy = QByteArrayLiteral(
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'");

void send(QHttpServerResponder& r, Status status, const QByteArray& type, const QByteArray& body,
          const QByteArray& extraName = {}, const QByteArray& extraValue = {}) {
    r.writeStatusLine(status);
    r.writeHeader("Content-Type", type);
    r.writeHeader("Cache-Control", "no-store");
    r.writeHeader("X-Content-Type-Options", "nosniff");
    r.writeHeader("Referrer-Policy", "no-referrer");
    if (type.startsWith("text/html")) r.writeHeader("Content-Security-Policy", kPagePolicy);
    if (!extraName.isEmpty()) r.writeHeader(extraName, extraValue);
    r.writeHeader("Content-Length", QByteArray::number(body.size()));
    r.writeBody(body);
}

void sendText(QHttpServerResponder& r, Status status, const char* text,
              const QByteArray& extraName = {}, const QByteArray& extraValue = {}) {
    send(r, status, kText, QByteArray(text) + '\n', extraName, extraValue);
}

// Compares in a time that depends on the lengths only, never on where the
// first difference is.
bool sameSecret(const QByteArray& given, const QByteArray& secret) {
    unsigned char diff = given.size() == secret.size() ? 0 : 1;
    const qsizetype n = std::max(given.size(), secret.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char a = i < given.size() ? given[i] : 0;
        const char b = i < secret.size() ? secret[i] : 0;
        diff |= static_cast<unsigned char>(a ^ b);
    }
    return diff == 0;
}

QByteArray hostPart(QByteArray host) {
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        return end < 0 ? QByteArray() : host.left(end + 1);
    }
    const qsizetype colon = host.lastIndexOf(':');
    return colon < 0 ? host : host.left(colon);
}

// A page from another site may not open our socket in its visitor's
// browser: a browser names the page's origin, which must be this host.
bool sameOrigin(const QString& origin, const QByteArray& host) {
    if (origin.isEmpty()) return true;  // not a browser
    const QUrl from(origin);
    const QUrl to(QStringLiteral("http://") + QString::fromLatin1(host));
    const int defaultPort = from.scheme() == QLatin1String("https") ? 443 : 80;
    return from.host().compare(to.host(), Qt::CaseInsensitive) == 0 &&
           from.port(defaultPort) == to.port(80);
}

std::optional<std::uint64_t> afterParameter(const QString& text) {
    if (text.isEmpty()) return 0;
    std::int64_t v = 0;
    const std::string s = text.toStdString();
    if (s.size() > 15 || !parseDecimal(s, v) || v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

}  // namespace

WebBoard::WebBoard(MonitorService& service, const ServiceOptions& options, Tell tell,
                   QObject* parent)
    : QAbstractHttpServer(parent), m_service(service), m_options(options), m_tell(std::move(tell)) {
    QFile page(QStringLiteral(":/linewarden/board.html"));
    if (page.open(QIODevice::ReadOnly)) m_page = page.readAll();
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebBoard::takeWebSockets);
    connect(&m_service, &MonitorService::ticked, this, &WebBoard::push);
    // A lost or returning port is news at once, not at the next tick.
    connect(&m_service, &MonitorService::portStateChanged, this, [this] { push(); });
    m_pushedSeq = m_service.records().lastSeq();
    m_pushedEventSeq = m_service.events().lastSeq();
    m_siteJson = '"' + jsonEscape(m_options.site) + '"';
}

WebBoard::~WebBoard() { m_clients.clear(); }

Result<> WebBoard::listen() {
    if (!m_options.httpTokenFile.empty()) {
        QFile f(QString::fromStdString(m_options.httpTokenFile));
        if (!f.open(QIODevice::ReadOnly)) {
            return Result<>::failure("cannot read the token file " + m_options.httpTokenFile +
                                     ": " + f.errorString().toStdString());
        }
        m_token = f.read(kMaxTokenFile + 1).trimmed();
        if (m_token.isEmpty() || m_token.size() > kMaxTokenFile) {
            return Result<>::failure("the token file " + m_options.httpTokenFile +
                                     " holds no usable token");
        }
    }
    if (m_page.isEmpty()) return Result<>::failure("the web page is missing from the program");
    const HttpEndpoint& at = *m_options.http;
    auto guard = std::make_unique<HttpGuard>();
    if (!guard->listen(at.address, at.port)) {
        return Result<>::failure("cannot listen on " + at.address.toString().toStdString() + ":" +
                                 std::to_string(at.port) + ": " +
                                 guard->errorString().toStdString());
    }
    m_guard = guard.release();
    bind(m_guard);
    QString host = at.address.toString();
    if (at.address.protocol() == QAbstractSocket::IPv6Protocol) host = '[' + host + ']';
    m_tell("web board on http://" + host.toStdString() + ":" + std::to_string(port()) + "/" +
           (m_token.isEmpty() ? "" : " (token required)"));
    return {};
}

quint16 WebBoard::port() const { return m_guard ? m_guard->serverPort() : 0; }

bool WebBoard::authorised(const QByteArray& authorization, const QString& queryToken) const {
    if (m_token.isEmpty()) return true;
    if (authorization.startsWith("Bearer ")) {
        return sameSecret(authorization.mid(7).trimmed(), m_token);
    }
    return !queryToken.isEmpty() && sameSecret(queryToken.toUtf8(), m_token);
}

bool WebBoard::hostAllowed(const QByteArray& host) const {
    // Without a token, a loopback board answers only to names of this host,
    // so no web site can rebind its own name to us and read the board.
    if (!m_token.isEmpty()) return true;
    const QByteArray name = hostPart(host).toLower();
    if (name == "localhost" || name == "127.0.0.1" || name == "[::1]") return true;
    const QHostAddress bound = m_options.http->address;
    const QString literal = bound.protocol() == QAbstractSocket::IPv6Protocol
                                ? '[' + bound.toString() + ']'
                                : bound.toString();
    return name == literal.toLatin1().toLower();
}

bool WebBoard::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder r = makeResponder(request, socket);
    const bool upgrade = request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
    // A refused upgrade must not go on to become a WebSocket.
    const auto refusedUpgrade = [&] {
        if (upgrade) socket->disconnectFromHost();
        return true;
    };
    if (request.method() != QHttpServerRequest::Method::Get) {
        sendText(r, Status::MethodNotAllowed, "Only GET is served here", "Allow", "GET");
        return refusedUpgrade();
    }
    if (!hostAllowed(request.value("Host"))) {
        sendText(r, Status::Forbidden, "Unknown host name");
        return refusedUpgrade();
    }
    const QUrlQuery query = request.query();
    if (!authorised(request.value("Authorization"),
                    query.queryItemValue(QStringLiteral("token")))) {
        sendText(r, Status::Unauthorized, "A valid token is required", "WWW-Authenticate",
                 "Bearer realm=\"linewarden\"");
        return refusedUpgrade();
    }
    const QString path = request.url().path();
    // Qt's server shows a WebSocket upgrade here first and takes the socket
    // over afterwards: say nothing to one that may go ahead, and shut the
    // door on one that may not.
    if (upgrade) {
        if (path == QLatin1String("/ws") &&
            sameOrigin(QString::fromLatin1(request.value("Origin")), request.value("Host"))) {
            return true;
        }
        sendText(r, Status::Forbidden, "Not allowed");
        return refusedUpgrade();
    }
    if (path == QLatin1String("/")) {
        send(r, Status::Ok, "text/html; charset=utf-8", m_page);
    } else if (path == QLatin1String("/api/board")) {
        send(r, Status::Ok, kJson, QByteArray::fromStdString(m_service.boardJson()));
    } else if (path == QLatin1String("/api/records")) {
        const auto after = afterParameter(query.queryItemValue(QStringLiteral("after")));
        if (!after) {
            sendText(r, Status::BadRequest, "after is a record number");
        } else {
            send(r, Status::Ok, kJson,
                 QByteArray::fromStdString(
                     m_service.records().jsonAfter(*after, kMaxRecordsAnswered)));
        }
    } else if (path == QLatin1String("/ws")) {
        sendText(r, Status::BadRequest, "A WebSocket upgrade is expected here");
    } else {
        sendText(r, Status::NotFound, "Not found");
    }
    return true;
}

void WebBoard::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder r = makeResponder(request, socket);
    sendText(r, Status::NotFound, "Not found");
}

void WebBoard::takeWebSockets() {
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> ws = nextPendingWebSocketConnection();
        if (!ws) break;
        const QNetworkRequest& req = ws->request();
        const QUrl url = ws->requestUrl();
        const QUrlQuery query(url);
        const QByteArray host = req.rawHeader("Host");
        const bool allowed = url.path() == QLatin1String("/ws") && hostAllowed(host) &&
                             sameOrigin(ws->origin(), host) &&
                             authorised(req.rawHeader("Authorization"),
                                        query.queryItemValue(QStringLiteral("token")));
        QWebSocket* s = ws.get();
        if (!allowed) {
            QWebSocket* gone = ws.release();
            connect(gone, &QWebSocket::disconnected, gone, &QObject::deleteLater);
            gone->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("Not allowed"));
            QTimer::singleShot(kCloseLinger, gone, [gone] { gone->abort(); });
            continue;
        }
        if (m_guard) m_guard->markWebSocket(s->peerAddress(), s->peerPort());
        s->setMaxAllowedIncomingFrameSize(kMaxClientMessage);
        s->setMaxAllowedIncomingMessageSize(kMaxClientMessage);
        s->setReadBufferSize(kMaxClientMessage);
        connect(s, &QWebSocket::disconnected, this, [this, s] { drop(s); });
        const std::uint64_t last = m_service.records().lastSeq();
        const std::uint64_t from = last > kRecordsOnPage ? last - kRecordsOnPage : 0;
        const std::string hello = "{\"board\":" + m_service.boardJson() + ",\"records\":" +
                                  m_service.records().jsonAfter(from, kRecordsOnPage) +
                                  ",\"events\":" + m_service.events().jsonAfter(0, kRecordsOnPage) +
                                  ",\"site\":" + m_siteJson + ",\"first\":true}";
        s->sendTextMessage(QString::fromLatin1(hello.data(), static_cast<qsizetype>(hello.size())));
        m_clients.push_back(std::move(ws));
    }
}

void WebBoard::push() {
    // The page shows only the latest few; a noise flood must not make every push huge.
    const std::string records = m_service.records().jsonAfter(m_pushedSeq, kRecordsOnPage);
    m_pushedSeq = m_service.records().lastSeq();
    const std::string events = m_service.events().jsonAfter(m_pushedEventSeq, kRecordsOnPage);
    m_pushedEventSeq = m_service.events().lastSeq();
    if (m_clients.empty()) return;
    const std::string message = "{\"board\":" + m_service.boardJson() + ",\"records\":" +
                                records + ",\"events\":" + events + "}";
    const QString text =
        QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size()));
    std::vector<QWebSocket*> stalled;
    for (const auto& c : m_clients) {
        // A client that stopped reading is let go before it costs memory.
        if (c->bytesToWrite() > kMaxWebSocketBacklog) {
            stalled.push_back(c.get());
        } else {
            c->sendTextMessage(text);
        }
    }
    for (QWebSocket* s : stalled) {
        s->abort();
        drop(s);
    }
}

void WebBoard::drop(QWebSocket* socket) {
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const auto& c) { return c.get() == socket; });
    if (it == m_clients.end()) return;
    it->release()->deleteLater();
    m_clients.erase(it);
}

}  // namespace lw::service
