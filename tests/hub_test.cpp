// linewarden-hub as it runs: a real mosquitto, the real program, its real
// SQLite file and the page in headless Chromium. Killed and started again
// while a booth publishes, it loses no event; junk is counted and bounded;
// a history that cannot be written is told once and counted.
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <set>

#include "hub/history.h"
#include "net/mqtt/link.h"
#include "support/browser.h"
#include "support/hubrun.h"
#include "support/mosquittobroker.h"
#include "support/schemacheck.h"

using namespace lwtest;

namespace {

const QString kT = QStringLiteral("2026-12-09T23:40:00+01:00");

QByteArray httpGet(int port, const QString& path) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    if (!s.waitForConnected(3000)) return {};
    s.write("GET " + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray all;
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(3000)) all += s.readAll();
    all += s.readAll();
    const qsizetype body = all.indexOf("\r\n\r\n");
    return body < 0 ? QByteArray() : all.mid(body + 4);
}

QJsonObject sitesNow(int port) {
    return QJsonDocument::fromJson(httpGet(port, QStringLiteral("/api/sites"))).object();
}

int countOf(const QJsonObject& sites, const char* name) {
    return sites.value(QStringLiteral("counts")).toObject().value(QLatin1String(name)).toInt();
}

// Every event seq the history holds for `site`, each as often as it is held.
std::multiset<int> storedSeqs(int port, const QString& site) {
    std::multiset<int> seqs;
    qint64 after = 0;
    for (;;) {
        const QJsonArray rows =
            QJsonDocument::fromJson(
                httpGet(port, QStringLiteral("/api/events?site=%1&after=%2").arg(site).arg(after)))
                .array();
        if (rows.isEmpty()) return seqs;
        for (const auto& r : rows) {
            const QJsonObject row = r.toObject();
            seqs.insert(row.value(QStringLiteral("event")).toObject().value(QStringLiteral("seq")).toInt());
            after = row.value(QStringLiteral("id")).toInteger();
        }
    }
}

QString eventJson(int seq) {
    return QStringLiteral(R"({"kind":"failed","unit":2,"name":"Two","interlock":false,)"
                          R"("cause":"presence","clock":"00:00:01","at":"%1","seq":%2})")
        .arg(kT)
        .arg(seq);
}

// A booth's publisher on the shared link, as the service publishes.
struct Booth {
    std::unique_ptr<lw::mqtt::Link> link;
    bool connected = false;
    bool open(int port, const std::string& id) {
        lw::mqtt::LinkSettings s;
        s.broker = {"127.0.0.1", port};
        s.clientId = id;
        lw::mqtt::LinkEvents e;
        e.connected = [this] { connected = true; };
        auto made = lw::mqtt::Link::create(std::move(s), std::move(e));
        if (!made.ok) return false;
        link = std::move(made.value);
        link->open();
        return waitUntil([this] { return connected; }, 5000);
    }
    void send(const QString& topic, const QString& payload, bool retain = false) {
        link->publish(topic.toStdString(), payload.toStdString(), retain, 1);
    }
};

}  // namespace

class HubTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const QString m = mqttToolMissing();
        if (!m.isEmpty()) QSKIP(qPrintable(m + " is not installed (scripts/deps installs it)"));
        QVERIFY(m_dir.isValid());
        m_broker = std::make_unique<Broker>(m_dir.filePath(QStringLiteral("broker")));
        QVERIFY2(m_broker->start(), qPrintable(m_broker->error()));
    }

    void killedAndRestartedItLosesNoEvent() {
        const int http = freeLoopbackPort();
        const QStringList args{"--mqtt",   QStringLiteral("127.0.0.1:%1").arg(m_broker->port()),
                               "--http",   QStringLiteral("127.0.0.1:%1").arg(http),
                               "--db",     m_dir.filePath(QStringLiteral("history.db")),
                               "--mqtt-client-id", "hub-under-test"};
        HubRun hub;
        QVERIFY2(hub.start(args), qPrintable(hub.journal()));
        Booth booth;
        QVERIFY(booth.open(m_broker->port(), "booth-b1"));
        booth.send(QStringLiteral("linewarden/b1/online"), QStringLiteral("1"), true);

        // Events at a steady pace; the hub is killed at 100 and back at 300.
        constexpr int kEvents = 400;
        int sent = 0;
        QTimer pace;
        connect(&pace, &QTimer::timeout, [&] {
            if (sent < kEvents) booth.send(QStringLiteral("linewarden/b1/event"), eventJson(++sent));
        });
        pace.start(5);
        QVERIFY(waitUntil([&] { return sent >= 100; }, 10000));
        QVERIFY(waitUntil([&] { return !storedSeqs(http, "b1").empty(); }, 5000));
        hub.kill();
        QVERIFY(waitUntil([&] { return sent >= 300; }, 10000));
        HubRun again;
        QVERIFY2(again.start(args), qPrintable(again.journal()));
        QVERIFY(waitUntil([&] { return sent >= kEvents; }, 10000));
        QVERIFY(waitUntil([&] { return storedSeqs(http, "b1").size() >= kEvents; }, 15000));
        const std::multiset<int> seqs = storedSeqs(http, "b1");
        QCOMPARE(static_cast<int>(seqs.size()), kEvents);  // none twice
        for (int i = 1; i <= kEvents; ++i) QVERIFY2(seqs.count(i) == 1, qPrintable(QString::number(i)));
        // The booth's records make its night report, from the history.
        const QDate today = QDate::currentDate();
        booth.send(QStringLiteral("linewarden/b1/record"),
                   QStringLiteral("KX-40 #2 !!!!!*   FAILED BECAUSE OF PRESENCE   *!!!!! 0:00:08 INTO "
                                  "THE SHOW, AT 11:58:02 PM  ON THE %1/%2/%3\r\n%4\r\n")
                       .arg(today.month()).arg(today.day()).arg(today.year())
                       .arg(QString(56, QLatin1Char('_'))));
        const QString report = QStringLiteral("/site/b1/report?night=") + today.toString(Qt::ISODate);
        QVERIFY(waitUntil([&] { return httpGet(http, report).contains("PRESENCE 1"); }, 5000));
        QVERIFY(httpGet(http, QStringLiteral("/site/b1/report?night=tomorrow")).startsWith("night is a date"));
        QCOMPARE(again.stop(), 0);
        QVERIFY(again.journal().contains(QStringLiteral("stopped")));
    }

    void junkIsCountedAndBoundedAndThePageStaysLive() {
        const QString chromium = findTool(QStringLiteral("chromium"));
        const int http = freeLoopbackPort();
        HubRun hub;
        QVERIFY2(hub.start({"--mqtt", QStringLiteral("127.0.0.1:%1").arg(m_broker->port()),
                            "--mqtt-prefix", "junk", "--max-sites", "40", "--http",
                            QStringLiteral("127.0.0.1:%1").arg(http)}),
                 qPrintable(hub.journal()));
        Booth junk;
        QVERIFY(junk.open(m_broker->port(), "junk-maker"));
        const QString evil = QStringLiteral("<img src=x onerror=alert(1)>");
        junk.send("junk/" + evil + "/online", QStringLiteral("1"));
        junk.send(QStringLiteral("junk/failing/online"), QStringLiteral("1"));
        junk.send(QStringLiteral("junk/failing/unit/2"),
                  QStringLiteral(R"({"unit":2,"name":"Two","state":"failed","interlock":false,)"
                                 R"("cause":"motion","words":"HELP ME","clock":"00:00:01",)"
                                 R"("since":"%1","show_started":null,"at":"%1"})").arg(kT));
        junk.send(QStringLiteral("junk/gone/online"), QStringLiteral("0"));
        junk.send(QStringLiteral("junk/failing/bus"), QStringLiteral("not json"));
        junk.send(QStringLiteral("junk/failing/unit/3"), QStringLiteral(R"({"unit":3})"));
        junk.send(QStringLiteral("junk/failing/event"), QString(1 << 20, QLatin1Char('[')));
        for (int i = 0; i < 2000; ++i) junk.send(QStringLiteral("junk/s%1/online").arg(i), "1");
        QVERIFY2(waitUntil([&] { return countOf(sitesNow(http), "messages") >= 2007; }, 20000),
                 qPrintable(QString::fromUtf8(httpGet(http, QStringLiteral("/api/sites")).left(600)) + hub.journal()));
        const QJsonObject all = sitesNow(http);
        QCOMPARE(countOf(all, "sites"), 40);
        QCOMPARE(countOf(all, "invalid"), 3);
        QCOMPARE(countOf(all, "refused_sites"), 2000 - 37);  // 3 sites came first
        QCOMPARE(countOf(all, "failed"), 1);
        const QJsonArray sites = all.value(QStringLiteral("sites")).toArray();
        QCOMPARE(sites[0].toObject().value(QStringLiteral("site")).toString(), QStringLiteral("failing"));
        QCOMPARE(sites[0].toObject().value(QStringLiteral("invalid")).toInt(), 3);
        QCOMPARE(sites[1].toObject().value(QStringLiteral("worst")).toString(), QStringLiteral("offline"));
        QVERIFY(sites[1].toObject().value(QStringLiteral("marks")).isNull());
        const QByteArray answers = httpGet(http, QStringLiteral("/api/sites")) + '\n';
        QCOMPARE(lwtest::schemaErrors(QStringLiteral("sites"), answers), QString());
        QCOMPARE(lwtest::schemaErrors(QStringLiteral("site"),
                                      httpGet(http, QStringLiteral("/api/site/failing")) + '\n' +
                                          httpGet(http, QStringLiteral("/api/site/gone")) + '\n'),
                 QString());
        QVERIFY(hub.journal().contains(QStringLiteral("site table full at 40")));
        QCOMPARE(hub.journal().count(QStringLiteral("site table full")), 1);

        if (chromium.isEmpty()) QSKIP("chromium is not installed (scripts/deps installs it)");
        Browser browser;
        QVERIFY2(browser.start(chromium, m_dir.filePath(QStringLiteral("profile"))),
                 "Chromium's DevTools did not answer");
        browser.call("Page.navigate", {{"url", QStringLiteral("http://127.0.0.1:%1/").arg(http)}});
        QVERIFY(browser.until(QStringLiteral("document.body.dataset.state"), QStringLiteral("live")));
        QVERIFY(browser.until(QStringLiteral("String(document.querySelectorAll('.tile').length)"),
                              QStringLiteral("40")));
        // The name is text, never markup.
        QCOMPARE(browser.eval(QStringLiteral("String(document.querySelectorAll('img').length)")),
                 QStringLiteral("0"));
        QVERIFY(browser.eval(QStringLiteral("document.querySelector('main').textContent"))
                    .contains(evil));
        // Failed, with its alarm not yet acknowledged.
        QCOMPARE(browser.eval(QStringLiteral("document.querySelector('.tile').className")),
                 QStringLiteral("tile w-failed unacked"));
        // The page sound is off until asked for, then sounds for the urgent alarm.
        QCOMPARE(browser.eval(QStringLiteral("String(beeper)")), QStringLiteral("null"));
        QCOMPARE(browser.eval(QStringLiteral("document.getElementById('sound').click(); String(beeper !== null)")),
                 QStringLiteral("true"));
        QCOMPARE(browser.eval(QStringLiteral("document.querySelector('.tile a').pathname")),
                 QStringLiteral("/site/failing"));
        QCOMPARE(browser.eval(QStringLiteral("document.querySelectorAll('.tile')[1].className")),
                 QStringLiteral("tile w-offline"));
        // A failure published now shows on the open page.
        junk.send(QStringLiteral("junk/s1/unit/5"),
                  QStringLiteral(R"({"unit":5,"name":"Five","state":"failed","interlock":true,)"
                                 R"("cause":"presence","words":"HELP ME","clock":"00:00:01",)"
                                 R"("since":"%1","show_started":null,"at":"%1"})").arg(kT));
        QVERIFY(browser.until(QStringLiteral("document.querySelectorAll('.w-failed')[1].dataset.site"),
                              QStringLiteral("s1"), 3000));
        // The hub goes: the page says it is not live, and greys its tiles.
        QCOMPARE(hub.stop(), 0);
        QVERIFY(browser.until(QStringLiteral("document.body.dataset.state"), QStringLiteral("stale"), 4000));
        QVERIFY(browser.eval(QStringLiteral("document.getElementById('banner').textContent"))
                    .startsWith(QStringLiteral("NOT LIVE")));
    }

    void realMonitorsAreReadAndAKilledOneGoesOffline() {
        // Two booths as they run: the simulator on a pseudo-terminal, the monitor publishing.
        const int http = freeLoopbackPort();
        HubRun hub;
        QVERIFY2(hub.start({"--mqtt", QStringLiteral("127.0.0.1:%1").arg(m_broker->port()),
                            "--mqtt-prefix", "real", "--http", QStringLiteral("127.0.0.1:%1").arg(http)}),
                 qPrintable(hub.journal()));
        std::vector<std::unique_ptr<QProcess>> running;
        for (int i = 1; i <= 2; ++i) {
            const QString link = m_dir.filePath(QStringLiteral("bus%1").arg(i));
            auto sim = std::make_unique<QProcess>();
            sim->start(QStringLiteral(LW_SIM), {"--scenario", "failure", "--loop", "--speed", "5",
                                                "--link", link});
            QVERIFY(sim->waitForStarted(5000));
            QVERIFY(waitUntil([&] { return QFile::exists(link); }, 5000));
            auto monitor = std::make_unique<QProcess>();
            monitor->start(QStringLiteral(LW_MONITOR),
                           {"--device", link, "--site", QStringLiteral("booth-%1").arg(i), "--mqtt",
                            QStringLiteral("127.0.0.1:%1").arg(m_broker->port()), "--mqtt-prefix", "real", "--activity"});
            QVERIFY(monitor->waitForStarted(5000));
            running.push_back(std::move(sim));
            running.push_back(std::move(monitor));
        }
        // Every document they send is the contract's: the hub drops none.
        QVERIFY2(waitUntil([&] { return countOf(sitesNow(http), "failed") >= 2; }, 20000),
                 qPrintable(httpGet(http, QStringLiteral("/api/sites")).left(800) + hub.journal()));
        QCOMPARE(countOf(sitesNow(http), "invalid"), 0);
        QCOMPARE(countOf(sitesNow(http), "online"), 2);
        // The booth's own board, fed by the hub: its failed unit blinks as the
        // booth's does, its records come along, and it is live.
        const QString chromium = findTool(QStringLiteral("chromium"));
        std::unique_ptr<Browser> browser;
        const QString failedPanel = QStringLiteral(
            "getComputedStyle(document.querySelector('.unit[data-state=failed]')).backgroundColor");
        if (!chromium.isEmpty()) {
            browser = std::make_unique<Browser>();
            QVERIFY(browser->start(chromium, m_dir.filePath(QStringLiteral("board-profile"))));
            browser->call("Page.navigate",
                          {{"url", QStringLiteral("http://127.0.0.1:%1/site/booth-2").arg(http)}});
            QVERIFY(browser->until(QStringLiteral("document.body.dataset.state"), QStringLiteral("live")));
            QCOMPARE(browser->eval(QStringLiteral("document.getElementById('site').textContent")),
                     QStringLiteral("booth-2"));
            QVERIFY(browser->until(QStringLiteral("document.querySelector('.unit[data-state=failed] .status').textContent"),
                                   QStringLiteral("HELP ME")));
            QVERIFY(browser->until(failedPanel, QStringLiteral("rgb(255, 0, 0)")));
            QVERIFY(browser->until(failedPanel, QStringLiteral("rgb(0, 255, 0)")));
            QVERIFY(browser->until(QStringLiteral("String(/FAILED BECAUSE/.test(document.getElementById('recordlist').textContent))"),
                                   QStringLiteral("true"), 25000));
        }
        QVERIFY(httpGet(http, QStringLiteral("/site/booth-3")).startsWith("No such site"));
        QVERIFY(httpGet(http, QStringLiteral("/site/booth-2%2Fx")).startsWith("No such site"));
        QVERIFY(httpGet(http, QStringLiteral("/site/booth%2D2")).contains("STATUS REMOTE"));
        QVERIFY(httpGet(http, QStringLiteral("/site/booth-2/ws")).startsWith("A WebSocket upgrade"));
        // A booth killed: its will says offline, and its failures no longer count.
        running[3]->kill();
        running[3]->waitForFinished(5000);
        if (browser) {
            QVERIFY(browser->until(QStringLiteral("document.body.dataset.state"), QStringLiteral("stale")));
            QVERIFY(browser->eval(QStringLiteral("document.getElementById('banner').textContent"))
                        .startsWith(QStringLiteral("NOT LIVE")));
        }
        QVERIFY(waitUntil([&] {
            return httpGet(http, QStringLiteral("/api/site/booth-2")).contains("\"worst\":\"offline\"");
        }, 10000));
        QCOMPARE(countOf(sitesNow(http), "offline"), 1);
        QCOMPARE(countOf(sitesNow(http), "invalid"), 0);
        for (auto& p : running) {
            p->terminate();
            if (!p->waitForFinished(5000)) p->kill();
        }
        QCOMPARE(hub.stop(), 0);
    }

    void sitesOnARegionalBrokerReachTheHubThroughABridge() {
        // The region's broker forwards linewarden/# to the central one, where the hub is.
        const QString bridge = QStringLiteral(
            "connection central\naddress 127.0.0.1:%1\ntopic linewarden/# out 1\n"
            "cleansession false\nclientid region-north\n").arg(m_broker->port());
        Broker region(m_dir.filePath(QStringLiteral("region")), BrokerOptions{.extra = bridge});
        QVERIFY2(region.start(), qPrintable(region.error()));
        const int http = freeLoopbackPort();
        HubRun hub;
        QVERIFY2(hub.start({"--mqtt", QStringLiteral("127.0.0.1:%1").arg(m_broker->port()), "--http",
                            QStringLiteral("127.0.0.1:%1").arg(http), "--mqtt-client-id", "central-hub",
                            "--db", m_dir.filePath(QStringLiteral("central.db"))}),
                 qPrintable(hub.journal()));
        Booth booth;
        QVERIFY(booth.open(region.port(), "booth-north-7"));
        QVERIFY(waitUntil([&] { return region.log().contains(QStringLiteral("region-north")); }, 5000));
        booth.send(QStringLiteral("linewarden/north-7/online"), QStringLiteral("1"), true);
        booth.send(QStringLiteral("linewarden/north-7/event"), eventJson(1));
        QVERIFY2(waitUntil([&] { return httpGet(http, QStringLiteral("/api/site/north-7"))
                                            .contains("\"online\":true"); }, 10000),
                 qPrintable(region.log().right(1500)));
        QVERIFY(waitUntil([&] { return storedSeqs(http, "north-7").size() == 1; }, 5000));
        QCOMPARE(hub.stop(), 0);
    }

    void overHttpsOnlyWithItsCertificate() {
        const int http = freeLoopbackPort();
        HubRun hub;
        QVERIFY2(hub.start({"--mqtt", QStringLiteral("127.0.0.1:%1").arg(m_broker->port()), "--http",
                            QStringLiteral("127.0.0.1:%1").arg(http), "--https-cert",
                            LW_SOURCE_DIR "/tests/data/web/test-cert.pem", "--https-key",
                            LW_SOURCE_DIR "/tests/data/web/test-key.pem"}),
                 qPrintable(hub.journal()));
        QVERIFY(hub.journal().contains(QStringLiteral("page on https://127.0.0.1:")));
        QSslSocket tls;
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);  // the test's own certificate
        tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(http));
        QVERIFY(tls.waitForEncrypted(5000));
        tls.write("GET /api/sites HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (tls.waitForReadyRead(3000)) answer += tls.readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 200") && answer.contains("\"counts\""), answer.left(300));
        QVERIFY(httpGet(http, QStringLiteral("/api/sites")).isEmpty());  // plain HTTP gets nothing
        QCOMPARE(hub.stop(), 0);
    }

    void aHistoryThatCannotBeWrittenIsToldOnceAndCounted() {
        QStringList told;
        lw::hub::History history([&](const std::string& s) { told << QString::fromStdString(s); });
        const QString path = m_dir.filePath(QStringLiteral("broken.db"));
        QVERIFY(history.open(path.toStdString()).ok);
        {
            // Another hand breaks the file under the hub.
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "breaker");
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("DROP TABLE event")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("breaker"));
        lw::EventDoc e;
        e.kind = "noise";
        e.at = kT.toStdString();
        for (int i = 1; i <= 3; ++i) {
            e.seq = static_cast<std::uint64_t>(i);
            history.event("b", e, "{}", 0);
        }
        QCOMPARE(history.failedWrites(), 3u);
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QStringLiteral("history cannot be written")));
        history.record("b", "text\r\n", 0);  // other tables still take rows
        QCOMPARE(told.size(), 2);
        QVERIFY(told[1].contains(QStringLiteral("written again")));
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Broker> m_broker;
};

QTEST_MAIN(HubTest)
#include "hub_test.moc"
