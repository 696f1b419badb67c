// The web board's page in a real browser: headless Chromium, driven over its
// DevTools protocol, reads the page the real service serves while the test
// plays the bus.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>
#include <csignal>
#include <memory>

#include "support/eventually.h"
#include "support/files.h"
#include "support/browser.h"
#include "support/schemacheck.h"
#include "support/servicerun.h"

using lwtest::Browser;
using lwtest::ServiceRun;
using lwtest::TestBus;

namespace {

const QString kName = QStringLiteral("document.querySelector('#unit3 .name').textContent");
const QString kStatus = QStringLiteral("document.querySelector('#unit3 .status').textContent");
const QString kPanel =
    QStringLiteral("getComputedStyle(document.getElementById('unit3')).backgroundColor");
const QString kState = QStringLiteral("document.body.dataset.state");
const QString kBanner = QStringLiteral("document.getElementById('banner').textContent");

// Every element with text of its own that shows: its colour against the
// first background behind it, as WCAG reckons contrast. The lowest ratio
// and the pairs under 4.5:1.
const QString kContrast = QStringLiteral(R"JS((() => {
  const rgb = c => { const m = c.match(/rgba?\(([^)]+)\)/); if (!m) return null;
    const p = m[1].split(',').map(Number); return { c: p.slice(0, 3), a: p.length > 3 ? p[3] : 1 }; };
  const lum = x => { const f = v => { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * f(x.c[0]) + 0.7152 * f(x.c[1]) + 0.0722 * f(x.c[2]); };
  const behind = el => { for (let e = el; e; e = e.parentElement) { const b = rgb(getComputedStyle(e).backgroundColor);
    if (b && b.a > 0) return b; } return { c: [0, 0, 0], a: 1 }; };
  let min = 99, pairs = 0; const bad = [];
  for (const el of document.querySelectorAll('body *')) {
    if (![...el.childNodes].some(n => n.nodeType === 3 && n.textContent.trim())) continue;
    if (!el.getClientRects().length || getComputedStyle(el).visibility === 'hidden') continue;
    const fg = rgb(getComputedStyle(el).color), bg = behind(el);
    const a = lum(fg), b = lum(bg), r = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
    ++pairs; min = Math.min(min, r);
    if (r < 4.5) bad.push((el.id || el.className) + ' ' + fg.c + ' on ' + bg.c + ': ' + r.toFixed(2));
  }
  return JSON.stringify({ min: Math.round(min * 100) / 100, pairs, bad });
})())JS");

const QString kColumns = QStringLiteral(
    "String(getComputedStyle(document.getElementById('board')).gridTemplateColumns.split(' "
    "').length)");

}  // namespace

class WebPageTest : public QObject {
    Q_OBJECT

    // Every text on the page against its background, `times` looks apart
    // so the flashing tiles are seen in both phases.
    void checkContrast(Browser& browser, const char* when, int times = 1) {
        for (int i = 0; i < times; ++i) {
            const QJsonObject r =
                QJsonDocument::fromJson(browser.eval(kContrast).toUtf8()).object();
            QVERIFY2(r.value("pairs").toInt() > 20, when);
            QVERIFY2(r.value("bad").toArray().isEmpty(),
                     qPrintable(QString::fromLatin1(when) + ": " +
                                QJsonDocument(r.value("bad").toArray()).toJson()));
            if (i + 1 < times) QTest::qWait(300);
        }
    }

    void screenshot(Browser& browser, int width, int height, bool mobile, const QString& file) {
        browser.call("Emulation.setDeviceMetricsOverride", {{"width", width},
                                                            {"height", height},
                                                            {"deviceScaleFactor", 1},
                                                            {"mobile", mobile}});
        QTest::qWait(300);  // one frame laid out at the new size
        const QJsonObject r = browser.call("Page.captureScreenshot");
        const QByteArray png =
            QByteArray::fromBase64(r.value("result").toObject().value("data").toString().toLatin1());
        QVERIFY(png.startsWith("\x89PNG"));
        QFile out(QStringLiteral(LW_TEST_OUTPUT "/") + file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(png);
    }

    void checkSchema(const QString& kind, const QByteArray& lines) {
        const QString errors = lwtest::schemaErrors(kind, lines);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    }

    // Waits for the page's own state; how long it took, or -1.
    qint64 stateWithin(Browser& browser, const QString& want, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        return browser.until(kState, want, timeoutMs) ? t.elapsed() : -1;
    }

private Q_SLOTS:
    void pageStatesItsLivenessAndCannotLie() {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty()) QSKIP("chromium is not installed (scripts/deps installs it)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TestBus bus(dir.filePath(QStringLiteral("kx40bus")));
        QVERIFY(bus.plugIn());
        // A show running, one failed, one ready in interlock, one without
        // film, one starting, one closing in interlock; the rest absent.
        const std::string frames = "0iu1ih2iZ3il4iq5iNT@";
        QTimer feed;
        connect(&feed, &QTimer::timeout, [&] { bus.send(frames); });
        feed.start(100);
        // The log file cannot be written: the page says so among its events.
        const QStringList args{"--device", bus.link(), "--site", "booth7", "--activity", "--noise",
                               "--log", dir.filePath(QStringLiteral("gone/kx40.log")), "--http",
                               "127.0.0.1:0"};
        auto service = std::make_unique<ServiceRun>();
        QVERIFY(service->start(args, QStringLiteral("port open: ")));
        const quint16 port = service->port();

        // Every WebSocket message the page is sent, for the schema check.
        QByteArray messages;
        QWebSocket listener;
        connect(&listener, &QWebSocket::textMessageReceived,
                [&](const QString& m) { messages += m.toUtf8() + '\n'; });
        listener.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));

        Browser browser;
        QVERIFY2(browser.start(chromium, dir.filePath(QStringLiteral("profile"))),
                 "Chromium's DevTools did not answer");
        browser.call("Page.navigate", {{"url", QStringLiteral("http://127.0.0.1:%1/").arg(port)}});
        QVERIFY(stateWithin(browser, "live", 10000) >= 0);
        QVERIFY(browser.until(QStringLiteral("document.title"), "(1) HELP ME · booth7"));
        QVERIFY(browser.eval("document.querySelector('h1').textContent").contains("booth7"));
        QVERIFY(browser.until(
            QStringLiteral("document.querySelector('#unit2 .detail').textContent.slice(0, 15)"),
            QStringLiteral("PRESENCE\nsince ")));
        QVERIFY(browser.until("String([...document.querySelectorAll('#recordlist li.service')]"
                              ".some(li => li.textContent.startsWith('LOG FILE FAILED')))",
                              "true"));
        checkContrast(browser, "live", 4);
        browser.eval(QStringLiteral("window.sameLoad = 'yes'"));
        screenshot(browser, 1280, 800, false, QStringLiteral("webpage-live-1280x800.png"));
        screenshot(browser, 390, 844, true, QStringLiteral("webpage-live-390x844.png"));
        // On a phone the absent units are one row and the events a tap away.
        QCOMPARE(browser.eval("getComputedStyle(document.getElementById('unit9')).display"),
                 QStringLiteral("none"));
        QVERIFY(browser.eval("document.getElementById('absent').textContent")
                    .startsWith("Not there: 7 · 8"));
        QCOMPARE(browser.eval("String(document.getElementById('tolist').getBoundingClientRect().top < 100)"),
                 QStringLiteral("true"));
        checkContrast(browser, "phone");
        browser.call("Emulation.clearDeviceMetricsOverride");

        // The device goes: bus-lost within 3 s, a banner, an entry in the list.
        feed.stop();
        bus.unplug();
        const qint64 lost = stateWithin(browser, "bus-lost", 3000);
        QVERIFY2(lost >= 0, "bus-lost not within 3 s");
        QVERIFY(browser.eval(kBanner).startsWith("BUS LOST since "));
        QVERIFY(browser.until("String(document.querySelector('#recordlist li.service').textContent.startsWith('BUS LOST'))", "true"));
        checkContrast(browser, "bus lost");
        screenshot(browser, 1280, 800, false, QStringLiteral("webpage-buslost-1280x800.png"));
        browser.call("Emulation.clearDeviceMetricsOverride");
        QVERIFY(bus.plugIn());
        feed.start(100);
        const qint64 back = stateWithin(browser, "live", 3000);
        QVERIFY2(back >= 0, "not live within 3 s of the device's return");
        QVERIFY(browser.until("String(document.querySelector('#recordlist li.service').textContent.startsWith('BUS BACK'))", "true"));

        checkSchema(QStringLiteral("board"), lwtest::httpGet(port, "/api/board").body + '\n');
        checkSchema(QStringLiteral("record"), lwtest::httpGet(port, "/api/records").body + '\n');
        QVERIFY(messages.contains("\"bus_back\"") && messages.contains("\"log_failed\""));
        checkSchema(QStringLiteral("message"), messages);

        // The service dies: stale within 3 s, every tile grey, then live again
        // within 3 s of its restart, without a reload.
        ::kill(static_cast<pid_t>(service->pid()), SIGKILL);
        const qint64 stale = stateWithin(browser, "stale", 3000);
        QVERIFY2(stale >= 0, "stale not within 3 s of the service killed");
        QVERIFY(browser.eval(kBanner).startsWith("NOT LIVE — last update "));
        QCOMPARE(browser.eval("document.getElementById('link').textContent"),
                 QStringLiteral("reconnecting"));
        QCOMPARE(browser.eval("document.getElementById('port').textContent"),
                 QStringLiteral("unknown"));
        QCOMPARE(browser.eval("getComputedStyle(document.getElementById('unit1')).backgroundColor"),
                 QStringLiteral("rgb(38, 38, 38)"));
        checkContrast(browser, "stale");
        screenshot(browser, 1280, 800, false, QStringLiteral("webpage-stale-1280x800.png"));
        browser.call("Emulation.clearDeviceMetricsOverride");
        QElapsedTimer restart;
        restart.start();
        service = std::make_unique<ServiceRun>();
        QStringList again = args;
        again.last() = QStringLiteral("127.0.0.1:%1").arg(port);
        QVERIFY(service->start(again, QStringLiteral("port open: ")));
        QVERIFY2(browser.until(kState, "live", 3000 - static_cast<int>(restart.elapsed())),
                 "not live within 3 s of the restart");
        const qint64 relive = restart.elapsed();
        QCOMPARE(browser.eval(QStringLiteral("window.sameLoad")), QStringLiteral("yes"));
        qInfo("bus-lost after %lld ms, live %lld ms after the return; stale after %lld ms, "
              "live %lld ms after the restart",
              lost, back, stale, relive);
    }


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

        // The alarm sound is off until switched on, and stays on for the next visit.
        const QString sound = QStringLiteral("String(document.getElementById('sound').checked)");
        QCOMPARE(browser.eval(sound), QStringLiteral("false"));
        browser.eval(QStringLiteral("document.getElementById('sound').click()"));
        browser.call("Page.reload");
        QVERIFY(browser.until(QStringLiteral("String(window.sameLoad === undefined)"), "true"));
        QVERIFY(browser.until(sound, QStringLiteral("true")));
    }
};

QTEST_GUILESS_MAIN(WebPageTest)
#include "webpage_test.moc"
