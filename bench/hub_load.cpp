// hub_load: N synthetic booths on one broker, as linewarden-monitor publishes
// them: online "1", sixteen units and the bus retained, then unit events at a
// night's rate (a unit starts, ends its feature, is ready again; now and then
// one fails), each as its retained unit and a QoS 1 event.
//
//   hub_load --mqtt HOST:PORT [--prefix P] [--sites N] [--events-per-hour R]
//            [--seconds S] [--fail-site NAME]
// Prints when the retained state is all handed to the broker, then a line per
// minute of what went out. --fail-site fails unit 1 of that site at once
// (after the retained state) and says when, for a latency measure.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <random>
#include <string>

#include "net/mqtt/link.h"

namespace {

std::string isoNow() {
    const QDateTime now = QDateTime::currentDateTime();
    const int off = now.offsetFromUtc();
    return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toStdString() +
           QStringLiteral("%1%2:%3")
               .arg(off < 0 ? '-' : '+')
               .arg(std::abs(off) / 3600, 2, 10, QLatin1Char('0'))
               .arg(std::abs(off) / 60 % 60, 2, 10, QLatin1Char('0'))
               .toStdString();
}

std::string unitDoc(int n, const std::string& state, const std::string& at) {
    const bool failed = state == "failed";
    const bool show = state == "running";
    const char* words = failed ? "HELP ME" : show ? "SHOW RUN" : "READY";
    return "{\"unit\":" + std::to_string(n) + ",\"name\":\"SCREEN " + std::to_string(n) +
           "\",\"state\":\"" + state + "\",\"interlock\":false,\"cause\":" +
           (failed ? "\"motion\"" : "null") + ",\"words\":\"" + words +
           "\",\"clock\":\"00:00:00\",\"since\":\"" + at + "\",\"show_started\":" +
           (show ? "\"" + at + "\"" : "null") + ",\"at\":\"" + at + "\"}";
}

std::string eventDoc(const char* kind, int n, std::uint64_t seq, const std::string& at) {
    const bool failed = std::string(kind) == "failed";
    return std::string("{\"kind\":\"") + kind + "\",\"unit\":" + std::to_string(n) +
           ",\"name\":\"SCREEN " + std::to_string(n) + "\",\"interlock\":false,\"cause\":" +
           (failed ? "\"motion\"" : "null") + ",\"clock\":\"00:00:00\",\"at\":\"" + at +
           "\",\"seq\":" + std::to_string(seq) + "}";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string prefix = "linewarden";
    std::string failSite;
    int sites = 1000;
    double perHour = 40;  // events per site per hour: a busy night
    int seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--mqtt") {
            host = v.substr(0, v.rfind(':'));
            port = std::stoi(v.substr(v.rfind(':') + 1));
        } else if (a == "--prefix") prefix = v;
        else if (a == "--sites") sites = std::stoi(v);
        else if (a == "--events-per-hour") perHour = std::stod(v);
        else if (a == "--seconds") seconds = std::stoi(v);
        else if (a == "--fail-site") failSite = v;
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    lw::mqtt::LinkSettings s;
    s.broker = {host, port};
    s.clientId = "hub-load-" + std::to_string(QCoreApplication::applicationPid());
    bool up = false;
    lw::mqtt::LinkEvents e;
    e.connected = [&] { up = true; };
    auto made = lw::mqtt::Link::create(std::move(s), std::move(e));
    if (!made.ok) {
        std::fprintf(stderr, "%s\n", made.error.c_str());
        return 1;
    }
    auto link = std::move(made.value);
    link->open();
    QElapsedTimer clock;
    clock.start();
    while (!up && clock.elapsed() < 10000) app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!up) return 1;

    const std::string at = isoNow();
    auto site = [&](int i) { return prefix + "/site" + std::to_string(i); };
    std::vector<std::array<std::string, 16>> states(static_cast<std::size_t>(sites));
    std::vector<std::uint64_t> seqs(static_cast<std::size_t>(sites), 0);
    // Handed over a slice at a time, so the library's queue stays small.
    std::size_t retained = 0;
    for (int i = 0; i < sites; ++i) {
        link->publish(site(i) + "/online", "1", true);
        for (int n = 1; n <= 16; ++n) {
            states[static_cast<std::size_t>(i)][static_cast<std::size_t>(n - 1)] = n <= 12 ? "ready" : "absent";
            const std::string doc = n <= 12 ? unitDoc(n, "ready", at)
                                            : "{\"unit\":" + std::to_string(n) +
                                                  ",\"name\":\"\",\"state\":\"absent\",\"interlock\":false,"
                                                  "\"cause\":null,\"words\":\" \",\"clock\":\" \",\"since\":\"" +
                                                  at + "\",\"show_started\":null,\"at\":\"" + at + "\"}";
            link->publish(site(i) + "/unit/" + std::to_string(n), doc, true);
        }
        link->publish(site(i) + "/bus",
                      "{\"remote\":true,\"noise\":false,\"port\":\"open\",\"port_since\":\"" + at +
                          "\",\"at\":\"" + at + "\"}",
                      true);
        retained += 18;
        while (link->unacknowledged() > 2000) app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    while (link->unacknowledged() > 0 && clock.elapsed() < 60000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("retained %zu messages for %d sites in %lld ms\n", retained, sites,
                static_cast<long long>(clock.elapsed()));
    std::fflush(stdout);
    if (!failSite.empty()) {
        const std::string now = isoNow();
        link->publish(prefix + "/" + failSite + "/unit/1", unitDoc(1, "failed", now), true);
        link->publish(prefix + "/" + failSite + "/event", eventDoc("failed", 1, 1, now), false);
        std::printf("failed %s unit 1 at %lld ms since the epoch\n", failSite.c_str(),
                    static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        std::fflush(stdout);
    }

    // Events spread evenly: sites x rate per hour.
    std::mt19937 random(7);
    const double perSecond = sites * perHour / 3600.0;
    std::uint64_t sent = 0;
    QTimer tick;
    QElapsedTimer run;
    run.start();
    std::uint64_t lastMinute = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto due = static_cast<std::uint64_t>(run.elapsed() / 1000.0 * perSecond);
        while (sent < due) {
            const int i = static_cast<int>(random() % static_cast<unsigned>(sites));
            const int n = 1 + static_cast<int>(random() % 12);
            std::string& st = states[static_cast<std::size_t>(i)][static_cast<std::size_t>(n - 1)];
            const char* kind = "started";
            if (st == "ready") st = "running";
            else if (st == "running") {
                const bool fail = random() % 20 == 0;
                st = fail ? "failed" : "ready";
                kind = fail ? "failed" : "stopped_ready";
            } else {
                st = "ready";
                kind = "stopped_ready";
            }
            const std::string now = isoNow();
            link->publish(site(i) + "/unit/" + std::to_string(n), unitDoc(n, st, now), true);
            link->publish(site(i) + "/event", eventDoc(kind, n, ++seqs[static_cast<std::size_t>(i)], now), false);
            ++sent;
        }
        if (static_cast<std::uint64_t>(run.elapsed() / 60000) > lastMinute) {
            lastMinute = static_cast<std::uint64_t>(run.elapsed() / 60000);
            std::printf("%llu events so far\n", static_cast<unsigned long long>(sent));
            std::fflush(stdout);
        }
        if (run.elapsed() >= seconds * 1000LL) app.quit();
    });
    tick.start(100);
    app.exec();
    std::printf("%llu events in %d s\n", static_cast<unsigned long long>(sent), seconds);
    return 0;
}
