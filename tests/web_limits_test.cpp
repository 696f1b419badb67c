// The web board's budgets against the real linewarden-monitor on loopback:
// whatever some clients do, another gets the page and the board within a
// second; asked-for closes are prompt; memory comes back after churn. And a
// POST's body through the web edge's own listener, in this process.
#include <QSslSocket>
#include <QtTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "net/web/server.h"
#include "support/servicerun.h"

using lwtest::httpGet;
using lwtest::ServiceRun;

namespace {

constexpr qint64 kAnswerMs = 1000;
constexpr qint64 kRssBudgetKiB = 4 * 1024;  // over the resting size, after churn or a flood

const QByteArray kUpgrade =
    "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

// A plain blocking socket to the board; -1 when it cannot connect.
int dial(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct Fd {
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

}  // namespace

class WebLimitsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QVERIFY(m_service.start({"--device", m_tmp.filePath(QStringLiteral("no-bus")), "--http",
                                 "127.0.0.1:0"}));
        m_port = m_service.port();
        QVERIFY(m_echo.listen(QHostAddress::LocalHost, 0));
    }

    void idleWebSocketsLeaveRoomForAPageLoad() {
        std::vector<std::unique_ptr<QTcpSocket>> live;
        for (int i = 0; i < 64 + 16; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QStringLiteral("127.0.0.1"), m_port);
            QVERIFY(s->waitForConnected(3000));
            s->write(kUpgrade);
            QVERIFY(s->waitForReadyRead(3000));
            live.push_back(std::move(s));
        }
        const auto opened = std::count_if(live.begin(), live.end(),
                                          [](const auto& s) { return s->peek(12) == "HTTP/1.1 101"; });
        QVERIFY2(opened >= 32 && opened <= 64, qPrintable(QString::number(opened)));
        pageAndBoardAnswered();
    }

    void slowHeadersLeaveRoomAndAreCut() {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 200; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QStringLiteral("127.0.0.1"), m_port);
            s->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
            slow.push_back(std::move(s));
        }
        QTRY_VERIFY(std::all_of(slow.begin(), slow.end(), [](const auto& s) {
            return s->bytesToWrite() == 0 || s->state() == QAbstractSocket::UnconnectedState;
        }));
        pageAndBoardAnswered();
        // None outlives the time a head has to arrive in.
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(slow.begin(), slow.end(), [](const auto& s) {
                                     return s->state() == QAbstractSocket::UnconnectedState;
                                 }),
                                 8000);
    }

    void closesAsSoonAsAnswered_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("HTTP/1.0") << QByteArray("GET /api/board HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        QTest::newRow("Connection: close")
            << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }
    void closesAsSoonAsAnswered() {
        QFETCH(QByteArray, request);
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), m_port);
        QVERIFY(s.waitForConnected(3000));
        s.write(request);
        QElapsedTimer t;
        QByteArray in;
        while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(3000)) {
            in += s.readAll();
            if (!t.isValid() && in.contains("\r\n\r\n")) t.start();
        }
        QVERIFY(in.startsWith("HTTP/1.1 200"));
        QVERIFY(s.state() != QAbstractSocket::ConnectedState);
        QVERIFY2(t.elapsed() < 100, qPrintable(QString::number(t.elapsed())));
    }

    void memoryComesBackAfterChurn() {
        const qint64 rest = m_service.rssKiB();
        for (int round = 0; round < 200; ++round) {
            std::vector<std::unique_ptr<Fd>> batch;
            for (int i = 0; i < 100; ++i) batch.push_back(std::make_unique<Fd>(dial(m_port)));
        }
        QVERIFY(httpGet(m_port, "/api/board").status == 200);
        // Within the second the service takes to give freed memory back.
        QTRY_VERIFY_WITH_TIMEOUT(m_service.rssKiB() < rest + kRssBudgetKiB, 3000);
        const qint64 after = m_service.rssKiB();
        qInfo("RSS %lld KiB at rest, %lld KiB after 20000 connect/close cycles", rest, after);
        QVERIFY(after < rest + kRssBudgetKiB);
    }

    void pingFloodIsCutOff() {
        const qint64 rest = m_service.rssKiB();
        Fd ws(dial(m_port));
        QVERIFY(ws.fd >= 0);
        int small = 4096;
        ::setsockopt(ws.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        QCOMPARE(::send(ws.fd, kUpgrade.constData(), kUpgrade.size(), 0), kUpgrade.size());
        // Masked pings with no payload, sent on and on, never a byte read.
        const QByteArray ping("\x89\x80\0\0\0\0", 6);
        const QByteArray burst = ping.repeated(10000);
        qint64 sent = 0;
        while (sent < 512LL * 1024 * 1024) {
            const ssize_t n = ::send(ws.fd, burst.constData(), burst.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += n;
        }
        QVERIFY2(sent < 512LL * 1024 * 1024, "the flood was never cut off");
        QVERIFY(httpGet(m_port, "/api/board").status == 200);
        QTRY_VERIFY_WITH_TIMEOUT(m_service.rssKiB() < rest + kRssBudgetKiB, 3000);
        const qint64 after = m_service.rssKiB();
        qInfo("RSS %lld KiB before, %lld KiB after a ping flood of %lld bytes", rest, after, sent);
        QVERIFY(after < rest + kRssBudgetKiB);
    }

    void httpsOnlyWhenAskedFor() {
        const QString data = QStringLiteral(LW_SOURCE_DIR "/tests/data/web/");
        ServiceRun tls;
        QVERIFY(tls.start({"--device", m_tmp.filePath(QStringLiteral("no-bus")), "--http",
                           "127.0.0.1:0", "--https-cert", data + "test-cert.pem", "--https-key",
                           data + "test-key.pem"},
                          QStringLiteral("web board on https://")));
        static const QRegularExpression at(QStringLiteral("https://[^ ]*:(\\d+)/"));
        const auto port = static_cast<quint16>(at.match(tls.journal()).captured(1).toUInt());
        QSslSocket s;
        s.setPeerVerifyMode(QSslSocket::VerifyNone);
        s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        QVERIFY(s.waitForEncrypted(5000));
        s.write("GET /api/board HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
        QByteArray in;
        while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(3000)) in += s.readAll();
        QVERIFY(in.startsWith("HTTP/1.1 200"));
        // Plain HTTP on the HTTPS port gets nothing but the end of the connection.
        QCOMPARE(lwtest::rawHttp(port, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n", 3000).status, 0);
        QCOMPARE(tls.terminate(), 0);
    }

    void newTokenIsWrittenOnce() {
        const QString file = m_tmp.filePath(QStringLiteral("token"));
        QProcess p;
        p.start(QStringLiteral(LW_MONITOR), {"--new-token", file, "--http", "127.0.0.1:8480"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray token = lwtest::readAll(file).trimmed();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(QString::fromLatin1(token)).hasMatch());
        QCOMPARE(QFile(file).permissions() & 0x0FFF, QFile::ReadUser | QFile::WriteUser);  // 0600: nobody else
        QVERIFY(p.readAllStandardOutput().contains("http://127.0.0.1:8480/?token=" + token));
        p.start(QStringLiteral(LW_MONITOR), {"--new-token", file});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 1);  // never over an old one
        QCOMPARE(lwtest::readAll(file).trimmed(), token);
    }

    // A POST's body, through the web edge's own listener in this process.
    void postBodyReachesTheHandlerWhole() {
        QTcpSocket s;
        const QByteArray head = "POST /act HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 11\r\n\r\n";
        QVERIFY(echoConnect(s, head + "hello"));
        // The first piece is in the server's hands, and it waits for the rest.
        QTRY_VERIFY(echoSide(s) && echoSide(s)->bytesAvailable() == head.size() + 5);
        QVERIFY(m_bodies.isEmpty());
        s.write(" world");
        QTRY_COMPARE(m_bodies, QList<QByteArray>{"hello world"});
        QByteArray in;
        QTRY_VERIFY((in += s.readAll()).endsWith("\r\n\r\nhello world\n"));
        QTRY_COMPARE(s.state(), QAbstractSocket::UnconnectedState);  // a body ends the connection
    }

    void bodyRefusedUnreadOrCutOff() {
        const auto before = m_bodies.size();
        for (const auto& [head, status] : {std::pair("Content-Length: 4097", "413"),
                                           std::pair("Transfer-Encoding: chunked", "411")}) {
            QTcpSocket s;
            QVERIFY(echoConnect(s, "POST /act HTTP/1.1\r\n" + QByteArray(head) + "\r\n\r\n"));
            QByteArray in;
            QTRY_VERIFY((in += s.readAll()).startsWith("HTTP/1.1 " + QByteArray(status)));
            QTRY_COMPARE(s.state(), QAbstractSocket::UnconnectedState);
        }
        QTcpSocket slow;
        QElapsedTimer t;
        t.start();
        QVERIFY(echoConnect(slow, "POST /act HTTP/1.1\r\nContent-Length: 11\r\n\r\nhel"));
        QTRY_VERIFY_WITH_TIMEOUT(slow.state() == QAbstractSocket::UnconnectedState, 8000);
        QVERIFY2(t.elapsed() >= 4500, qPrintable(QString::number(t.elapsed())));  // 5 s, a coarse timer
        QVERIFY(slow.readAll().isEmpty());
        QCOMPARE(m_bodies.size(), before);
    }

    void cleanupTestCase() { QCOMPARE(m_service.terminate(), 0); }

private:
    void pageAndBoardAnswered() {
        for (const QByteArray& path : {QByteArray("/"), QByteArray("/api/board")}) {
            QElapsedTimer t;
            t.start();
            const auto r = httpGet(m_port, path);
            QCOMPARE(r.status, 200);
            QVERIFY2(t.elapsed() < kAnswerMs, qPrintable(path + " took " + QByteArray::number(t.elapsed())));
        }
    }

    bool echoConnect(QTcpSocket& s, const QByteArray& bytes) {
        s.connectToHost(QStringLiteral("127.0.0.1"), m_echo.serverPort());
        return s.waitForConnected(3000) && s.write(bytes) == bytes.size();
    }
    // The echo server's side of client `s`, once accepted.
    QTcpSocket* echoSide(const QTcpSocket& s) const {
        for (QTcpSocket* c : m_echo.findChildren<QTcpSocket*>()) {
            if (c->peerPort() == s.localPort()) return c;
        }
        return nullptr;
    }

    QTemporaryDir m_tmp;
    ServiceRun m_service;
    quint16 m_port = 0;
    QList<QByteArray> m_bodies;  // what the echo server's handler was given
    lw::web::Server m_echo{[this](const lw::web::Request& r) {
        m_bodies.append(QByteArray::fromStdString(r.body));
        return lw::web::textAnswer(200, r.body.c_str());
    }};
};

QTEST_GUILESS_MAIN(WebLimitsTest)
#include "web_limits_test.moc"
