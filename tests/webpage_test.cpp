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

#include "support/browser.h"
#include "support/servicerun.h"

using lwtest::Browser;
using lwtest::ServiceRun;
using lwtest::TestBus;

namespace {

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
        QFile n(names);
        QVERIFY(n.open(QIODevice::WriteOnly));
        n.write("\"fileok\",\"1\",\"2\",\"SCREEN 3\"\r\n");
        n.close();

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

        // The unit fails: "HELP ME", its panel flashing red and green, the record on top.
        QTest::qWait(1200);
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
