// linewarden-monitor, the real program, against a bus on a pseudo-terminal
// and the simulator, and against clients that misbehave.
#include <QSignalSpy>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>
#include <memory>

#include "support/servicerun.h"

using lwtest::field;
using lwtest::httpGet;
using lwtest::rawHttp;
using lwtest::ServiceRun;
using lwtest::TestBus;

namespace {

// Units repeat their frames, as on a real bus: the test says which.
class Feeder {
public:
    explicit Feeder(TestBus& bus) : m_bus(bus) {
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (!m_frames.empty()) m_bus.send(m_frames);
        });
        m_timer.start();
    }
    void set(std::string frames) { m_frames = std::move(frames); }

private:
    TestBus& m_bus;
    QTimer m_timer;
    std::string m_frames;
};

qint64 tickOf(const QJsonObject& b) { return b.value(QStringLiteral("tick")).toInteger(); }

QByteArray recordTexts(const QJsonArray& records) {
    QByteArray all;
    for (const auto& r : records)
        all += r.toObject().value(QStringLiteral("text")).toString().toLatin1();
    return all;
}

bool consecutive(const QJsonArray& records) {
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records.at(i).toObject().value(QStringLiteral("seq")).toInteger() != i + 1)
            return false;
    }
    return true;
}

}  // namespace

class ServiceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        m_dir = QDir(m_tmp->path());
        m_bus = std::make_unique<TestBus>(m_dir.filePath(QStringLiteral("kx40bus")));
        m_log = m_dir.filePath(QStringLiteral("activity.log"));
    }
    void cleanup() {
        m_service.reset();
        m_bus.reset();
        m_tmp.reset();
    }

    void boardAndRecordsFollowTheBus() {
        QVERIFY(m_bus->plugIn());
        const QString names = m_dir.filePath(QStringLiteral("remlabel.dat"));
        QFile n(names);
        QVERIFY(n.open(QIODevice::WriteOnly));
        n.write("\"fileok\",\"1\",\"2\",\"SCREEN \xe9\"\r\n");
        n.close();
        Feeder feed(*m_bus);
        feed.set("2iq");
        QVERIFY(start({"--device", m_bus->link(), "--log", m_log, "--activity", "--names", names,
                       "--http", "127.0.0.1:0"}));
        QVERIFY(m_service->journal().contains(QStringLiteral("port open: ") + m_bus->link()));

        auto b = m_service->boardWhen(
            [](const QJsonObject& x) { return field(x, 3, "status") == "STARTING"; });
        QVERIFY(b);
        QCOMPARE(field(*b, 3, "name"), QStringLiteral("SCREEN \u00e9"));
        QCOMPARE(b->value(QStringLiteral("port")).toString(), QStringLiteral("open"));
        feed.set("2iu");
        b = m_service->boardWhen(
            [](const QJsonObject& x) { return field(x, 3, "status") == "SHOW RUN"; });
        QVERIFY(b);
        QCOMPARE(field(*b, 3, "panel"), QStringLiteral("#00ff00"));

        // A failure is on the board within two decoder ticks of its frame.
        QTest::qWait(1500);  // a clock second or more into the show
        const qint64 before = tickOf(m_service->board());
        feed.set("2ih");
        b = m_service->boardWhen(
            [](const QJsonObject& x) { return field(x, 3, "status") == "HELP ME"; });
        QVERIFY(b);
        QVERIFY2(tickOf(*b) <= before + 2,
                 qPrintable(QStringLiteral("seen at tick %1, frame after tick %2")
                                .arg(tickOf(*b))
                                .arg(before)));
        const QString panel = field(*b, 3, "panel");
        QVERIFY(panel == "#ff0000" || panel == "#00ff00");
        QVERIFY(m_service->boardWhen(
            [](const QJsonObject& x) { return x.value(QStringLiteral("beeps")).toInt() == 1; }));

        // The log holds the records, and the web board the same, in order.
        QTRY_VERIFY_WITH_TIMEOUT(lwtest::readAll(m_log).contains("FAILED BECAUSE OF PRESENCE"),
                                 3000);
        const QByteArray log = lwtest::readAll(m_log);
        QVERIFY(log.startsWith("KX-40 #SCREEN \xe9 HAS BEEN STARTED "));
        const QJsonArray records = m_service->records();
        QCOMPARE(records.size(), 2);
        QVERIFY(consecutive(records));
        QCOMPARE(recordTexts(records), log);
        QCOMPARE(m_service->records(1).size(), 1);
        QCOMPARE(m_service->records(2).size(), 0);
        // Nothing was ever written to the line.
        QCOMPARE(m_bus->cameBack(), std::string());
    }

    void lostDeviceIsRetriedAndMonitoringResumes() {
        const QString link = m_dir.filePath(QStringLiteral("simbus"));
        auto sim = std::make_unique<QProcess>();
        auto startSim = [&] {
            sim = std::make_unique<QProcess>();
            sim->start(QStringLiteral(LW_SIM), {"--scenario", "quick", "--loop", "--link", link});
            if (!sim->waitForStarted(5000)) return false;
            QElapsedTimer t;
            t.start();
            while (!QFileInfo::exists(link) && t.elapsed() < 5000) QTest::qWait(20);
            return QFileInfo::exists(link);
        };
        QVERIFY(startSim());
        QVERIFY(start({"--device", link, "--log", m_log, "--activity", "--http", "127.0.0.1:0"}));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->records().size() >= 2, 15000);

        sim->terminate();
        QVERIFY(sim->waitForFinished(5000));
        QVERIFY(QString::fromLocal8Bit(sim->readAllStandardOutput())
                    .contains(QStringLiteral(" 0 bytes came back")));
        QVERIFY(m_service->waitForText(QStringLiteral("port lost: ") + link));
        QVERIFY(m_service->boardWhen(
            [](const QJsonObject& x) { return x.value(QStringLiteral("port")) == "lost"; }));
        QTest::qWait(4500);  // retries come and go without a word
        QCOMPARE(m_service->journal().count(QStringLiteral("port lost")), 1);
        const qint64 seqBefore = m_service->records().size();

        QVERIFY(startSim());
        QVERIFY(m_service->waitForText(QStringLiteral("port back: ") + link, 5000));
        QVERIFY(m_service->boardWhen(
            [](const QJsonObject& x) { return x.value(QStringLiteral("port")) == "open"; }));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->records().size() > seqBefore, 15000);
        const QJsonArray all = m_service->records();
        QVERIFY(consecutive(all));
        QCOMPARE(recordTexts(all), lwtest::readAll(m_log));

        QCOMPARE(m_service->terminate(), 0);
        QVERIFY(m_service->journal().contains(QStringLiteral("port closed")));
        sim->terminate();
        sim->waitForFinished(5000);
    }

    void startsWithoutItsDeviceAndStopsCleanly() {
        // Booted before the adapter: it waits for the device, then exits 0 on SIGTERM.
        const QString ini = m_dir.filePath(QStringLiteral("monitor.conf"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("device=" + m_bus->link() + "\nactivity=true\nlog=" + m_dir.filePath("other.log") +
                 "\nhttp=127.0.0.1:0\n")
                    .toUtf8());
        f.close();
        QVERIFY(start({"--config", ini, "--log", m_log}, QStringLiteral("cannot open the port")));
        QVERIFY(m_service->boardWhen(
            [](const QJsonObject& x) { return x.value(QStringLiteral("port")) == "lost"; }));
        QVERIFY(m_bus->plugIn());
        Feeder feed(*m_bus);
        feed.set("0iq");
        QVERIFY(m_service->waitForText(QStringLiteral("port open: "), 5000));
        QTRY_VERIFY_WITH_TIMEOUT(lwtest::readAll(m_log).contains("KX-40 #1 HAS BEEN STARTED"),
                                 5000);
        QVERIFY(!QFile::exists(m_dir.filePath("other.log")));  // the command line won
        QCOMPARE(m_service->terminate(), 0);
        QCOMPARE(m_service->journal().count(QLatin1Char('\n')), 4);  // one line per event
    }

    void badHttpInputLeavesTheMonitorRunning() {
        QVERIFY(m_bus->plugIn());
        Feeder feed(*m_bus);
        QVERIFY(start({"--device", m_bus->link(), "--log", m_log, "--activity", "--noise", "--http",
                       "127.0.0.1:0"}));
        const quint16 port = m_service->port();
        // Unit 1 starts and is made ready again and again while all this goes on.
        int cycles = 0;
        QTimer cycle;
        cycle.setInterval(2400);
        QObject::connect(&cycle, &QTimer::timeout, [&] {
            feed.set(cycles % 2 == 0 ? "0iq" : "0iz");
            ++cycles;
        });
        cycle.start();
        feed.set("0iq");
        ++cycles;

        // The rules themselves are table rows (web_rules_test); here the
        // refusals that end a connection, while the bus goes on.
        const auto post = rawHttp(port, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                        "Content-Length: 5\r\n\r\nhello");
        QCOMPARE(post.status, 405);
        QVERIFY(post.head.contains("\r\nConnection: close"));
        QCOMPARE(rawHttp(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Many: " +
                                   QByteArray(64 * 1024, 'b'))
                     .status,
                 431);
        QCOMPARE(rawHttp(port, QByteArray("\x16\x03\x01\x02\x00\x01\x00", 7)).status, 400);

        // A client that asks and asks and never reads.
        QTcpSocket greedy;
        greedy.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        greedy.setReadBufferSize(64);
        greedy.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(greedy.waitForConnected(3000));
        const QByteArray ask = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        for (int i = 0; i < 2000 && greedy.state() == QAbstractSocket::ConnectedState; ++i) {
            greedy.write(ask);
            greedy.waitForBytesWritten(50);
        }

        // A WebSocket client that never reads while the bus floods with noise.
        QWebSocket live;
        int pushes = 0;
        connect(&live, &QWebSocket::textMessageReceived, [&](const QString&) { ++pushes; });
        live.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
        QTcpSocket stalled;
        stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        stalled.setReadBufferSize(64);  // Qt takes no more off the line for it
        stalled.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(stalled.waitForConnected(3000));
        stalled.write(
            "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QVERIFY(stalled.waitForBytesWritten(3000));
        QVERIFY(stalled.waitForReadyRead(3000));
        const QByteArray upgraded = stalled.read(12);
        QVERIFY2(upgraded == "HTTP/1.1 101",
                 upgraded.constData());  // from here on it reads no more
        const std::string noise(60, '@');
        feed.set("0iq" + noise);
        cycle.stop();
        const qint64 rssBefore = m_service->rssKiB();
        QTest::qWait(12000);
        // Reading again now finds what was sent before the service let it go, then the end.
        stalled.setReadBufferSize(0);
        QTRY_VERIFY_WITH_TIMEOUT(
            (stalled.readAll(), stalled.state() != QAbstractSocket::ConnectedState), 5000);
        QVERIFY(pushes >= 12);  // the reading client was served all along
        // The one that asked without reading is gone by now, cut off or timed out.
        greedy.setReadBufferSize(0);
        QTRY_VERIFY_WITH_TIMEOUT(
            (greedy.readAll(), greedy.state() != QAbstractSocket::ConnectedState), 10000);
        QVERIFY2(m_service->rssKiB() < rssBefore + 16 * 1024,
                 qPrintable(
                     QStringLiteral("%1 KiB then %2 KiB").arg(rssBefore).arg(m_service->rssKiB())));
        feed.set({});

        // Monitoring never stopped and every record reached the log.
        QTRY_VERIFY_WITH_TIMEOUT(field(m_service->board(), 1, "status") == "STARTING", 3000);
        QVERIFY(m_service->running());
        QCOMPARE(m_service->terminate(), 0);
        const QByteArray log = lwtest::readAll(m_log);
        QVERIFY(log.count("KX-40 #1 HAS BEEN STARTED") >= cycles / 2);
        QVERIFY(log.count("KX-40 #1 STOPPED AND READY") >= cycles / 2 - 1);
        QVERIFY(log.contains("***NOISE***"));
        QVERIFY(!m_service->journal().contains(QStringLiteral("cannot write")));
        QCOMPARE(m_bus->cameBack(), std::string());
    }

    void tokenGuardsEveryPath() {
        QVERIFY(m_bus->plugIn());
        const QString tokenFile = m_dir.filePath(QStringLiteral("token"));
        QFile t(tokenFile);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("s3cret-Token-value\n");
        t.close();
        QVERIFY(
            start({"--device", m_bus->link(), "--http", "127.0.0.1:0", "--http-token", tokenFile}));
        QVERIFY(m_service->journal().contains(QStringLiteral("(token required)")));
        const quint16 port = m_service->port();
        QCOMPARE(httpGet(port, "/api/board").status, 401);
        QCOMPARE(httpGet(port, "/api/board", "Authorization: Bearer s3cret-Token-value\r\n").status,
                 200);

        // The WebSocket goes through the same rule before it opens.
        auto socketGets = [port](const QString& query, const QString& origin) {
            QWebSocket ws(origin);
            int messages = 0;
            bool closed = false;
            QObject::connect(&ws, &QWebSocket::textMessageReceived,
                             [&](const QString&) { ++messages; });
            QObject::connect(&ws, &QWebSocket::disconnected, [&] { closed = true; });
            ws.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws%2").arg(port).arg(query)));
            QElapsedTimer waited;
            waited.start();
            while (!closed && messages < 2 && waited.elapsed() < 5000) QTest::qWait(20);
            return messages;
        };
        QCOMPARE(socketGets({}, {}), 0);
        QCOMPARE(socketGets(QStringLiteral("?token=wrong"), {}), 0);
        QVERIFY(socketGets(QStringLiteral("?token=s3cret-Token-value"), {}) >= 2);
        QCOMPARE(socketGets(QStringLiteral("?token=s3cret-Token-value"),
                            QStringLiteral("http://evil.example")),
                 0);
    }

    void refusesWhatItCannotDoSafely() {
        // Off loopback only with a token; nothing listens when refused.
        QProcess p;
        p.start(QStringLiteral(LW_MONITOR), {"--device", "/dev/null", "--http", "0.0.0.0:0"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("--http-token"));
        const QString empty = m_dir.filePath(QStringLiteral("empty"));
        QFile(empty).open(QIODevice::WriteOnly);
        p.start(QStringLiteral(LW_MONITOR),
                {"--device", "/dev/null", "--http", "127.0.0.1:0", "--http-token", empty});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("no usable token"));
        // What is not a small regular file is refused before anything starts.
        p.start(QStringLiteral(LW_MONITOR),
                {"--device", "/dev/null", "--http", "127.0.0.1:0", "--http-token", "/dev/zero"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("the token file /dev/zero is not a regular file"));
    }

private:
    bool start(const QStringList& args, const QString& waitFor = QStringLiteral("port open: ")) {
        m_service = std::make_unique<ServiceRun>();
        return m_service->start(args, waitFor);
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QDir m_dir;
    std::unique_ptr<TestBus> m_bus;
    QString m_log;
    std::unique_ptr<ServiceRun> m_service;
};

QTEST_GUILESS_MAIN(ServiceTest)
#include "service_test.moc"
