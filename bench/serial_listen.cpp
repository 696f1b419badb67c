// Listens to a port through the serial layer the way the status board does,
// one read every 800 ms, and reports its own CPU time and peak memory.
// Run: build/bench/serial_listen DEVICE SECONDS
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <string>

#include "core/busprotocol.h"
#include "serial/commport.h"

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: serial_listen DEVICE SECONDS\n");
        return 2;
    }
    const QString device = QString::fromLocal8Bit(argv[1]);
    const int seconds = std::atoi(argv[2]);
    lw::CommPort port([device](int) { return device; });
    for (const auto& r :
         {port.setCommPort(1), port.setSettings(lw::lineSettings("4800")), port.setPortOpen(true)}) {
        if (!r.ok) {
            std::fprintf(stderr, "serial_listen: %s\n", r.error.c_str());
            return 1;
        }
    }
    std::size_t bytes = 0;
    QElapsedTimer wall;
    wall.start();
    QTimer tick;
    tick.setInterval(800);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        bytes += port.input().size();
        if (wall.elapsed() >= seconds * 1000) app.quit();
    });
    tick.start();
    app.exec();
#ifdef Q_OS_UNIX
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const double cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                       static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    std::printf(
        "serial layer: %zu bytes in %.1f s, CPU %.3f s = %.3f %% of one core, peak RSS %ld KiB\n",
        bytes, static_cast<double>(wall.elapsed()) / 1000.0, cpu,
        100.0 * cpu * 1000.0 / static_cast<double>(wall.elapsed()), u.ru_maxrss);
#endif
    return 0;
}
