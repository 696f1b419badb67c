// service_bench: linewarden-monitor at work with web clients watching. It
// plays a 4800-baud bus on a pseudo-terminal (sixteen units repeating their
// frames at the line's pace, the master remote box between rounds), starts
// the service on it with every log option on and its web board on loopback,
// connects N WebSocket clients and, every few seconds, turns one unit from
// SHOW RUN to NO FILM or back. It reports the service's CPU share of one
// core, its wake-ups a second, its resident memory, and the time from the
// first changed frame on the line to each client holding the board that
// shows it.
// Usage: service_bench MONITOR SECONDS CLIENTS
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/pty.h"

namespace {

constexpr int kCharsPerSecond = 480;  // 4800 baud, ten bits a character
constexpr int kPaceMs = 50;
constexpr int kChangeEveryMs = 3100;  // off the tick's beat, so every phase is met
constexpr int kChangingSlot = 5;

struct Usage {
    double cpuSeconds = 0;
    long long switches = 0;  // voluntary, all threads
    long long rssKiB = 0;
    long long peakKiB = 0;
};

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

long long statusField(const QByteArray& status, const char* name) {
    const QRegularExpression re(QStringLiteral("%1:\\s+(\\d+)").arg(QLatin1String(name)));
    const auto m = re.match(QString::fromLatin1(status));
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

Usage usageOf(qint64 pid) {
    Usage u;
    const QString dir = QStringLiteral("/proc/%1").arg(pid);
    const QList<QByteArray> stat = slurp(dir + "/stat").split(')').value(1).trimmed().split(' ');
    // After the name: state is field 3, utime 14 and stime 15.
    if (stat.size() > 13) u.cpuSeconds = (stat[11].toDouble() + stat[12].toDouble()) / 100.0;
    const QByteArray status = slurp(dir + "/status");
    u.rssKiB = statusField(status, "VmRSS");
    u.peakKiB = statusField(status, "VmHWM");
    for (const QString& task : QDir(dir + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        u.switches +=
            statusField(slurp(dir + "/task/" + task + "/status"), "voluntary_ctxt_switches");
    }
    return u;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: service_bench MONITOR SECONDS CLIENTS\n");
        return 2;
    }
    const QString monitor = QString::fromLocal8Bit(argv[1]);
    const int seconds = std::atoi(argv[2]);
    const int clients = std::atoi(argv[3]);

    QTemporaryDir dir;
    lw::Pty pty;
    std::string why;
    if (!dir.isValid() || !pty.create(&why)) {
        std::fprintf(stderr, "service_bench: no pseudo-terminal: %s\n", why.c_str());
        return 1;
    }
    const QString link = dir.filePath(QStringLiteral("bus"));
    QFile::link(QString::fromStdString(pty.slavePath()), link);

    // The line: one round is sixteen frames and a "T"; the changing unit's code flips.
    char code = 'u';
    std::string line;
    std::size_t at = 0;
    auto round = [&] {
        std::string r;
        for (int slot = 1; slot <= 16; ++slot) {
            r += static_cast<char>('0' + slot - 1);
            r += "ijvwIJVWX"[slot % 9];
            r += slot == kChangingSlot ? code : 'u';
        }
        return r + "T";
    };
    line = round();
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> changedAt;  // when the first frame with each new code went out
    bool pendingChange = false;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        int budget = kCharsPerSecond * kPaceMs / 1000;
        while (budget-- > 0) {
            if (at == line.size()) {
                line = round();
                at = 0;
            }
            const char c = line[at++];
            pty.write(std::string_view(&c, 1));
            if (pendingChange && c == code && at >= 3 && line[at - 3] == '0' + kChangingSlot - 1) {
                changedAt.push_back(clock.elapsed());
                pendingChange = false;
            }
        }
    });
    pace.start(kPaceMs);

    QProcess service;
    service.setProgram(monitor);
    service.setArguments({"--device", link, "--log", dir.filePath("activity.log"), "--raw",
                          "--noise", "--activity", "--http", "127.0.0.1:0"});
    service.setReadChannel(QProcess::StandardError);
    service.start();
    QString journal;
    quint16 port = 0;
    const QRegularExpression listening(QStringLiteral("web board on http://127.0.0.1:(\\d+)/"));
    while (port == 0 && service.waitForReadyRead(5000)) {
        journal += QString::fromLocal8Bit(service.readAllStandardError());
        const auto m = listening.match(journal);
        if (m.hasMatch()) port = static_cast<quint16>(m.captured(1).toUInt());
    }
    if (port == 0) {
        journal += QString::fromLocal8Bit(service.readAllStandardError());
        std::fprintf(stderr, "service_bench: the service did not start:\n%s", qPrintable(journal));
        return 1;
    }

    // Each client notes when it first holds a board showing the latest change.
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<qint64> latencies;
    std::vector<std::size_t> seenChanges(static_cast<std::size_t>(clients), 0);
    long long messages = 0, bytes = 0;
    for (int i = 0; i < clients; ++i) {
        auto ws = std::make_unique<QWebSocket>();
        QObject::connect(ws.get(), &QWebSocket::textMessageReceived, [&, i](const QString& m) {
            ++messages;
            bytes += m.size();
            const QString status = QJsonDocument::fromJson(m.toLatin1())
                                       .object()
                                       .value("board")
                                       .toObject()
                                       .value("units")
                                       .toArray()
                                       .at(kChangingSlot - 1)
                                       .toObject()
                                       .value("status")
                                       .toString();
            const std::size_t n = changedAt.size();
            const QString want =
                (n % 2 == 1) ? QStringLiteral("NO FILM") : QStringLiteral("SHOW RUN");
            if (n > seenChanges[i] && status == want) {
                latencies.push_back(clock.elapsed() - changedAt[n - 1]);
                seenChanges[i] = n;
            }
        });
        ws->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
        sockets.push_back(std::move(ws));
    }

    QTimer change;
    QObject::connect(&change, &QTimer::timeout, [&] {
        code = code == 'u' ? 'l' : 'u';
        pendingChange = true;
    });
    Usage before;
    QElapsedTimer window;
    // A few seconds to settle, then the measured stretch.
    QTimer::singleShot(3000, [&] {
        before = usageOf(service.processId());
        window.start();
        change.start(kChangeEveryMs);
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    });
    app.exec();
    const Usage after = usageOf(service.processId());
    const double wall = window.elapsed() / 1000.0;
    change.stop();
    pace.stop();
    sockets.clear();
    service.terminate();
    service.waitForFinished(5000);

    std::sort(latencies.begin(), latencies.end());
    auto pct = [&](double p) {
        return latencies.empty()
                   ? -1
                   : latencies[std::min(latencies.size() - 1,
                                        static_cast<std::size_t>(p * latencies.size()))];
    };
    std::printf("linewarden-monitor, %d web clients, %.0f s at 4800 baud:\n", clients, wall);
    std::printf("  CPU %.2f s = %.3f %% of one core, %.1f wake-ups a second\n",
                after.cpuSeconds - before.cpuSeconds,
                100.0 * (after.cpuSeconds - before.cpuSeconds) / wall,
                (after.switches - before.switches) / wall);
    std::printf("  RSS %lld KiB (%.1f MiB), peak %lld KiB\n", after.rssKiB, after.rssKiB / 1024.0,
                after.peakKiB);
    std::printf("  %lld pushes received, %.1f KiB a second to all clients\n", messages,
                bytes / 1024.0 / wall);
    std::printf(
        "  frame on the line to board at a client: %zu samples over %zu changes, min %lld ms, "
        "median %lld ms, 95%% %lld ms, max %lld ms\n",
        latencies.size(), changedAt.size(),
        latencies.empty() ? -1LL : static_cast<long long>(latencies.front()),
        static_cast<long long>(pct(0.5)), static_cast<long long>(pct(0.95)),
        latencies.empty() ? -1LL : static_cast<long long>(latencies.back()));
    return 0;
}
