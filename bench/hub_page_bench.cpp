// The hub's page in headless Chromium against a running hub: the first draw
// of every tile after navigation, then a failure published to the broker
// until its tile shows failed, eleven times (the median and the worst).
//   hub_page_bench URL BROKER_HOST:PORT PREFIX SITE
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "net/mqtt/link.h"
#include "tests/support/browser.h"

namespace {

std::string isoNow() {
    return QDateTime::currentDateTime().toOffsetFromUtc(0).toString(Qt::ISODate).chopped(1).toStdString() +
           "+00:00";
}

std::string unitDoc(const std::string& state, const std::string& at) {
    const bool failed = state == "failed";
    return std::string("{\"unit\":1,\"name\":\"SCREEN 1\",\"state\":\"") + state +
           "\",\"interlock\":false,\"cause\":" + (failed ? "\"motion\"" : "null") +
           ",\"words\":\"" + (failed ? "HELP ME" : "READY") +
           "\",\"clock\":\"00:00:00\",\"since\":\"" + at + "\",\"show_started\":null,\"at\":\"" +
           at + "\"}";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: hub_page_bench URL BROKER_HOST:PORT PREFIX SITE\n");
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const std::string broker = argv[2];
    const std::string prefix = argv[3];
    const std::string site = argv[4];
    QTemporaryDir dir;
    lwtest::Browser browser;
    if (!browser.start(QStandardPaths::findExecutable(QStringLiteral("chromium")), dir.path())) {
        std::fprintf(stderr, "chromium did not start\n");
        return 1;
    }
    browser.call(QStringLiteral("Page.navigate"), {{"url", url}});
    if (!browser.until(QStringLiteral("String(performance.getEntriesByName('tiles').length)"),
                       QStringLiteral("1"), 20000))
        return 1;
    std::printf("first draw of %s tiles: %s ms after navigation (first contentful paint %s ms)\n",
                qPrintable(browser.eval(QStringLiteral("String(document.querySelectorAll('.tile').length)"))),
                qPrintable(browser.eval(QStringLiteral("String(Math.round(performance.getEntriesByName('tiles')[0].startTime))"))),
                qPrintable(browser.eval(QStringLiteral("String(Math.round((performance.getEntriesByName('first-contentful-paint')[0]||{startTime:-1}).startTime))"))));

    lw::mqtt::LinkSettings s;
    s.broker = {broker.substr(0, broker.rfind(':')), std::stoi(broker.substr(broker.rfind(':') + 1))};
    s.clientId = "hub-page-bench";
    bool up = false;
    lw::mqtt::LinkEvents e;
    e.connected = [&] { up = true; };
    auto link = std::move(lw::mqtt::Link::create(std::move(s), std::move(e)).value);
    link->open();
    QElapsedTimer t;
    t.start();
    while (!up && t.elapsed() < 10000) app.processEvents(QEventLoop::AllEvents, 50);
    const std::string topic = prefix + "/" + site + "/unit/1";
    const QString failedJs = QStringLiteral("String(!!document.querySelector('.tile.w-failed[data-site=\"%1\"]'))")
                                 .arg(QString::fromStdString(site));
    std::vector<qint64> took;
    for (int i = 0; i < 11; ++i) {
        link->publish(topic, unitDoc("ready", isoNow()), true);
        if (!browser.until(failedJs, QStringLiteral("false"), 5000)) return 1;
        t.restart();
        link->publish(topic, unitDoc("failed", isoNow()), true);
        while (browser.eval(failedJs) != QLatin1String("true") && t.elapsed() < 5000)
            app.processEvents(QEventLoop::AllEvents, 5);
        took.push_back(t.elapsed());
    }
    std::sort(took.begin(), took.end());
    std::printf("failure published to shown on the page: median %lld ms, worst %lld ms (11 runs)\n",
                static_cast<long long>(took[5]), static_cast<long long>(took.back()));
    link->publish(topic, unitDoc("ready", isoNow()), true);
    return 0;
}
