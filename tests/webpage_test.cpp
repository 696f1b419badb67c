// The web board's page in a real browser: headless Chromium, driven over its
// DevTools protocol, reads the page the real service serves while the test
// plays the bus.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>
#include <memory>

#include "support/eventually.h"
#include "support/files.h"
#include "support/servicerun.h"

using lwtest::ServiceRun;
using lwtest::TestBus;

namespace {

// Headless Chromium with a fresh profile and its DevTools socket.
class Browser {
public:
    ~Browser() {
        m_devtools.close();
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(5000)) m_proc.kill();
            m_proc.waitForFinished(2000);
        }
    }

    bool start(const QString& program, const QString& profile) {
        m_proc.start(program,
                     {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                      "--no-first-run", "--disable-background-networking",
                      "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
                      "--remote-debugging-port=0", "--window-size=1200,900", "about:blank"});
        if (!m_proc.waitForStarted(10000)) return false;
        // Written once the browser listens: its first line is the port.
        const QString portFile = profile + "/DevToolsActivePort";
        int port = 0;
        if (!lwtest::eventually(
                [&] {
                    port = QByteArray::fromStdString(lwtest::readFile(portFile)).split('\n')[0].toInt();
                    return port > 0;
                },
                std::chrono::seconds(20))) {
            return false;
        }
        QNetworkAccessManager net;
        QNetworkReply* list = net.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(port))));
        QSignalSpy done(list, &QNetworkReply::finished);
        if (!done.wait(10000)) return false;
        QString target;
        for (const auto& v : QJsonDocument::fromJson(list->readAll()).array()) {
            if (v.toObject().value("type") == "page") {
                target = v.toObject().value("webSocketDebuggerUrl").toString();
                break;
            }
        }
        list->deleteLater();
        if (target.isEmpty()) return false;
        QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, [this](const QString& m) {
            const QJsonObject o = QJsonDocument::fromJson(m.toUtf8()).object();
            if (o.contains("id")) m_replies[o.value("id").toInt()] = o;
        });
        QSignalSpy connected(&m_devtools, &QWebSocket::connected);
        m_devtools.open(QUrl(target));
        return connected.wait(10000);
    }

    QJsonObject call(const QString& method, const QJsonObject& params = {}) {
        const int id = ++m_next;
        m_devtools.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}})
                .toJson(QJsonDocument::Compact)));
        lwtest::eventually([&] { return m_replies.contains(id); }, std::chrono::seconds(10));
        return m_replies.take(id);
    }

    // Evaluates `js` in the page; its value as a string.
    QString eval(const QString& js) {
        const QJsonObject r =
            call("Runtime.evaluate", {{"expression", js}, {"returnByValue", true}});
        const QJsonValue v = r.value("result").toObject().value("result").toObject().value("value");
        return v.isString()
                   ? v.toString()
                   : QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
    }

    // Polls `js` until it gives `want`.
    bool until(const QString& js, const QString& want, int timeoutMs = 10000) {
        if (lwtest::eventually([&] { return eval(js) == want; },
                               std::chrono::milliseconds(timeoutMs))) {
            return true;
        }
        qWarning("%s gave %s, not %s", qPrintable(js), qPrintable(eval(js)), qPrintable(want));
        return false;
    }

private:
    QProcess m_proc;
    QWebSocket m_devtools;
    QHash<int, QJsonObject> m_replies;
    int m_next = 0;
};

const QString kName = QStringLiteral("document.querySelector('#unit3 .name').textContent");
const QString kStatus = QStringLiteral("document.querySelector('#unit3 .status').textContent");
const QString kPanel =
    QStringLiteral("getComputedStyle(document.getElementById('unit3')).backgroundColor");
const QString kColumns = QStringLiteral(
    "String(getComputedStyle(document.getElementById('board')).gridTemplateColumns.split(' "
    "').length)");

}  // namespace

class WebPageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pageFollowsTheBoardLiveAndReconnects() {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty()) QSKIP("chromium is not installed (scripts/deps installs it)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString names = dir.filePath(QStringLiteral("remlabel.dat"));
        QVERIFY(lwtest::writeFile(names, "\"fileok\",\"1\",\"2\",\"SCREEN 3\"\r\n"));

        TestBus bus(dir.filePath(QStringLiteral("kx40bus")));
        QVERIFY(bus.plugIn());
        std::string frames = "2iu";
        QTimer feed;
        connect(&feed, &QTimer::timeout, [&] { bus.send(frames); });
        feed.start(100);
        const QStringList args{"--device",   bus.link(), "--names",    names,
                               "--activity", "--http",   "127.0.0.1:0"};
        auto service = std::make_unique<ServiceRun>();
        QVERIFY(service->start(args, QStringLiteral("port open: ")));
        const quint16 port = service->port();

        Browser browser;
        QVERIFY2(browser.start(chromium, dir.filePath(QStringLiteral("profile"))),
                 "Chromium's DevTools did not answer");
        browser.call("Page.navigate", {{"url", QStringLiteral("http://127.0.0.1:%1/").arg(port)}});
        QVERIFY(browser.until(kName, QStringLiteral("SCREEN 3")));
        QVERIFY(browser.until(kStatus, QStringLiteral("SHOW RUN")));
        QVERIFY(browser.until(kPanel, QStringLiteral("rgb(0, 255, 0)")));
        QCOMPARE(
            browser.eval(QStringLiteral("document.querySelector('#unit1 .status').textContent")),
            QStringLiteral(" "));
        QCOMPARE(browser.eval(kColumns), QStringLiteral("4"));
        browser.eval(QStringLiteral("window.sameLoad = 'yes'"));

        // The unit fails, a clock second into the show: "HELP ME", its panel
        // flashing red and green, the record on top.
        QVERIFY(browser.until(
            QStringLiteral("String(/^\\d+:\\d\\d:\\d\\d$/.test(document.querySelector('#unit3 .clock')"
                           ".textContent) && document.querySelector('#unit3 .clock').textContent "
                           "!== '0:00:00')"),
            QStringLiteral("true")));
        frames = "2ih";
        QVERIFY(browser.until(kStatus, QStringLiteral("HELP ME"), 3000));
        QVERIFY(browser.until(kPanel, QStringLiteral("rgb(255, 0, 0)"), 5000));
        QVERIFY(browser.until(kPanel, QStringLiteral("rgb(0, 255, 0)"), 5000));
        QVERIFY(browser.until(kPanel, QStringLiteral("rgb(255, 0, 0)"), 5000));
        QVERIFY(browser.until(kName, QStringLiteral("SCREEN 3")));
        QVERIFY(browser.until(
            QStringLiteral(
                "String(document.querySelector('#recordlist li').textContent.includes('SCREEN 3 "
                "!!!!!*   FAILED BECAUSE OF PRESENCE'))"),
            QStringLiteral("true")));

        // It recovers, and the page follows without being loaded again.
        frames = "2iu";
        QVERIFY(browser.until(kStatus, QStringLiteral("SHOW RUN"), 3000));
        QVERIFY(browser.until(kPanel, QStringLiteral("rgb(0, 255, 0)"), 3000));
        QCOMPARE(browser.eval(QStringLiteral("window.sameLoad")), QStringLiteral("yes"));

        // A phone's width: two columns.
        browser.call("Emulation.setDeviceMetricsOverride",
                     {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 1}, {"mobile", true}});
        QVERIFY(browser.until(kColumns, QStringLiteral("2")));
        browser.call("Emulation.clearDeviceMetricsOverride");
        QVERIFY(browser.until(kColumns, QStringLiteral("4")));

        // The service restarts: the page says so, then takes up the new one by itself.
        QCOMPARE(service->terminate(), 0);
        QVERIFY(browser.until(QStringLiteral("document.getElementById('link').textContent"),
                              QStringLiteral("reconnecting")));
        QVERIFY(browser.until(QStringLiteral("document.getElementById('port').textContent"),
                              QStringLiteral("unknown")));
        service = std::make_unique<ServiceRun>();
        QStringList again = args;
        again.last() = QStringLiteral("127.0.0.1:%1").arg(port);
        QVERIFY(service->start(again, QStringLiteral("port open: ")));
        QVERIFY(browser.until(QStringLiteral("document.getElementById('link').textContent"),
                              QStringLiteral("live"), 15000));
        QVERIFY(browser.until(kStatus, QStringLiteral("SHOW RUN")));
        QCOMPARE(browser.eval(QStringLiteral("window.sameLoad")), QStringLiteral("yes"));
    }
};

QTEST_GUILESS_MAIN(WebPageTest)
#include "webpage_test.moc"
