// The service writes the same activity records as the replay tool, byte for
// byte, for the same bus: a capture is played through a pseudo-terminal into
// the real linewarden-monitor, tick by tick as the capture has it, and the
// log compared with linewarden-replay's after the wall-clock fields are set
// aside.
#include <QTimer>
#include <QWebSocket>
#include <QtTest>
#include <memory>

#include "support/servicerun.h"
#include "tools/capturefile.h"

using lwtest::ServiceRun;
using lwtest::TestBus;

namespace {

constexpr std::int64_t kTick = 800;

// Plays a capture to a running service: the bytes a replay's decoder tick k
// reads are written halfway between the service's ticks k-1 and k, which
// the service's own pushes after every tick tell.
class Player final : public QObject {
public:
    Player(const lw::Capture& capture, const QString& dir, const QString& name)
        : m_capture(capture), m_bus(dir + "/" + name + ".bus"), m_log(dir + "/" + name + ".log") {}

    bool start(const QString& version) {
        if (!m_bus.plugIn()) return false;
        const std::int64_t last = m_capture.lastOffset();
        m_endTick = std::max<std::int64_t>(1, (last + kTick - 1) / kTick);
        if (!m_service.start({"--device", m_bus.link(), "--software-version", version, "--log",
                              m_log, "--raw", "--noise", "--activity", "--http", "127.0.0.1:0"},
                             QStringLiteral("port open: "))) {
            return false;
        }
        // The first tick after the port opened reads what came up to 800 ms.
        QTimer::singleShot(300, this, [this] { writeTick(1); });
        connect(&m_ws, &QWebSocket::textMessageReceived, this, [this](const QString& m) {
            const qint64 tick = QJsonDocument::fromJson(m.toLatin1())
                                    .object()
                                    .value("board")
                                    .toObject()
                                    .value("tick")
                                    .toInteger();
            if (tick <= m_seenTick) return;
            m_seenTick = tick;
            if (tick >= m_endTick) {
                m_status = m_service.terminate();  // before the next tick can read anything
                m_done = true;
                return;
            }
            QTimer::singleShot(400, this, [this, tick] { writeTick(tick + 1); });
        });
        m_ws.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(m_service.port())));
        return true;
    }

    bool done() const { return m_done; }
    int status() const { return m_status; }
    bool ticksInStep() const { return m_inStep; }
    const QString& log() const { return m_log; }

private:
    void writeTick(std::int64_t k) {
        if (k != m_seenTick + 1) m_inStep = false;
        std::string bytes;
        for (const auto& c : m_capture.chunks) {
            if (c.offset > (k - 1) * kTick && c.offset <= k * kTick) bytes += c.bytes;
            if (k == 1 && c.offset == 0) bytes += c.bytes;
        }
        m_bus.send(bytes);
    }

    const lw::Capture& m_capture;
    TestBus m_bus;
    QString m_log;
    ServiceRun m_service;
    QWebSocket m_ws;
    std::int64_t m_endTick = 0;
    qint64 m_seenTick = 0;
    bool m_done = false;
    bool m_inStep = true;
    int m_status = -1;
};

// The log with its time-of-day and date fields, and its show clocks, set
// aside; the show clocks are handed back to be compared on their own.
QByteArray normalised(QByteArray log, QList<int>* showSeconds) {
    static const QRegularExpression clock(QStringLiteral("(\\d+):(\\d\\d):(\\d\\d) INTO THE SHOW"));
    QString text = QString::fromLatin1(log);
    for (auto it = clock.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        showSeconds->append(m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 +
                            m.captured(3).toInt());
    }
    text.replace(clock, QStringLiteral("CLOCK INTO THE SHOW"));
    text.replace(QRegularExpression(QStringLiteral("\\d{1,2}:\\d\\d:\\d\\d [AP]M")),
                 QStringLiteral("TIME"));
    text.replace(QRegularExpression(QStringLiteral("\\d{1,2}/\\d{1,2}/\\d{4}")),
                 QStringLiteral("DATE"));
    return text.toLatin1();
}

}  // namespace

class ServiceReplayTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sameRecordsAsTheReplay() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        struct Case {
            const char* name;
            const char* kind;
            lw::Capture capture;
            QString version;
            std::unique_ptr<Player> player;
        };
        std::vector<Case> cases;
        for (const auto& [name, kind] :
             {std::pair{"failure", "FAILED IN INTERLOCK"}, std::pair{"noisy", "***NOISE***"}}) {
            const QString path =
                QStringLiteral(LW_SOURCE_DIR "/samples/%1.cap").arg(QLatin1String(name));
            const QByteArray text = lwtest::readAll(path);
            auto parsed = lw::parseCapture(
                std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
            QVERIFY2(parsed.ok, parsed.error.c_str());
            const QString version =
                QString::fromStdString(parsed.value.version.value_or("HUBQV-2"));
            cases.push_back({name, kind, std::move(parsed.value), version, nullptr});
        }
        // Both buses at once: the one that takes longest sets the time.
        for (Case& c : cases) {
            c.player = std::make_unique<Player>(c.capture, dir.path(), QLatin1String(c.name));
            QVERIFY(c.player->start(c.version));
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(cases.begin(), cases.end(), [](const Case& c) { return c.player->done(); }),
            120000);

        qsizetype rawBlocks = 0;
        for (const Case& c : cases) {
            QVERIFY2(c.player->ticksInStep(), c.name);
            QCOMPARE(c.player->status(), 0);
            const QString replayLog = dir.filePath(QLatin1String(c.name) + ".replay.log");
            QProcess replay;
            replay.start(
                QStringLiteral(LW_REPLAY),
                {QStringLiteral(LW_SOURCE_DIR "/samples/%1.cap").arg(QLatin1String(c.name)),
                 "--log", replayLog, "--raw", "--noise", "--activity"});
            QVERIFY(replay.waitForFinished(30000));
            QCOMPARE(replay.exitCode(), 0);

            QList<int> serviceClocks, replayClocks;
            const QByteArray fromService =
                normalised(lwtest::readAll(c.player->log()), &serviceClocks);
            const QByteArray fromReplay = normalised(lwtest::readAll(replayLog), &replayClocks);
            // Each capture brings records of its own kinds.
            QVERIFY2(fromReplay.contains(c.kind), c.name);
            rawBlocks += fromReplay.count("RAW COMM DATA LOG");
            QCOMPARE(fromService, fromReplay);
            // Show clocks count wall-clock seconds: real ones may fall a second
            // either side of the replay's virtual ones.
            QCOMPARE(serviceClocks.size(), replayClocks.size());
            for (qsizetype i = 0; i < serviceClocks.size(); ++i) {
                QVERIFY2(std::abs(serviceClocks[i] - replayClocks[i]) <= 1,
                         qPrintable(QStringLiteral("%1 s against %2 s")
                                        .arg(serviceClocks[i])
                                        .arg(replayClocks[i])));
            }
        }
        QVERIFY(rawBlocks > 0);
    }
};

QTEST_GUILESS_MAIN(ServiceReplayTest)
#include "service_replay_test.moc"
