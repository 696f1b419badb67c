// linewarden-capture: records a bus, read-only, as a replayable capture file.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "core/busprotocol.h"
#include "serial/commport.h"
#include "platform/stopsignals.h"
#include "tools/capturefile.h"
#include "core/commandline.h"

namespace {

constexpr const char* kUsage =
    "usage: linewarden-capture (--port N | --device PATH) [--baud 4800|1200]\n"
    "                          [--software-version TEXT] [--out FILE] [--duration S]\n"
    "\n"
    "Listens to a bus (never writes to it) and writes a capture file for linewarden-replay,\n"
    "one line as bytes arrive, each flushed, until interrupted (Ctrl+C) or S seconds pass.\n"
    "  --port N      COM port number, mapped like the monitor maps it\n"
    "  --device PATH a serial device or pseudo-terminal\n"
    "  --software-version TEXT  the version choice written into the capture\n"
    "  --out FILE    the capture file (default: standard output)\n";

int usage(const std::string& msg) {
    return lw::cli::usageError("linewarden-capture", msg, kUsage);
}

constexpr int kPollMs = 100;

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::optional<std::int64_t> portNumber;
    std::string device, out, version;
    bool haveVersion = false;
    std::int64_t baud = 4800, duration = 0;

    lw::cli::ArgReader args(argc, argv);
    if (auto done = lw::cli::standardAnswer(args.all(), "linewarden-capture", kUsage)) return *done;
    while (args.next()) {
        const std::string& a = args.current();
        if (a == "--port") {
            portNumber = args.number();
            if (!portNumber) return usage("--port needs a number");
        } else if (a == "--device") {
            const auto v = args.value();
            if (!v || v->empty()) return usage("--device needs a path");
            device = *v;
        } else if (a == "--baud") {
            const auto n = args.number();
            if (!n || (*n != 4800 && *n != 1200)) return usage("--baud is 4800 or 1200");
            baud = *n;
        } else if (a == "--software-version") {
            const auto v = args.value();
            if (!v) return usage("--software-version needs a value");
            if (auto problem = lw::versionProblem(*v)) return usage(*problem);
            version = *v;
            haveVersion = true;
        } else if (a == "--out") {
            const auto v = args.value();
            if (!v || v->empty()) return usage("--out needs a file");
            out = *v;
        } else if (a == "--duration") {
            const auto n = args.number();
            if (!n) return usage("--duration needs seconds");
            if (*n > lw::kMaxTimelineMs / 1000) return usage("--duration is at most 100 days");
            duration = *n;
        } else {
            return usage("unknown argument " + a);
        }
    }
    if (portNumber.has_value() == !device.empty()) return usage("give --port or --device");

    lw::CommPort::Resolver resolve;
    if (!device.empty()) {
        const QString path = QString::fromStdString(device);
        resolve = [path](int) { return path; };
    }
    lw::CommPort port(resolve);
    const int n = portNumber ? static_cast<int>(std::min<std::int64_t>(*portNumber, 32767)) : 1;
    for (const lw::Result<>& r :
         {port.setCommPort(n), port.setSettings(lw::lineSettings(std::to_string(baud))),
          port.setPortOpen(true)}) {
        if (!r.ok) {
            std::cerr << "linewarden-capture: " << r.error << "\n";
            return 1;
        }
    }

    std::FILE* file = out.empty() ? stdout : std::fopen(out.c_str(), "wb");
    if (!file) {
        std::cerr << "linewarden-capture: cannot write " << out << "\n";
        return 1;
    }
    bool writeFailed = false;
    auto put = [&](const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
            std::fflush(file) != 0) {
            writeFailed = true;
        }
    };

    // Offsets count from the whole second the header names.
    const QDateTime now = QDateTime::currentDateTime();
    const QTime t = now.time();
    const lw::CivilTime start{now.date().year(),
                              now.date().month(),
                              now.date().day(),
                              t.hour(),
                              t.minute(),
                              t.second(),
                              0};
    QElapsedTimer elapsed;
    elapsed.start();
    const std::int64_t lead = t.msec();
    put("# recorded by linewarden-capture from " + port.device().toStdString() + "\n" +
        lw::headerText(start, haveVersion ? std::optional<std::string>(version) : std::nullopt,
                       baud));

    int status = 0;
    port.setLostHandler([&](const std::string& why) {
        std::cerr << "linewarden-capture: the port went away: " << why << "\n";
        status = 1;
        app.quit();
    });
    // Everything the port holds goes into the capture.
    const auto takeInput = [&] {
        for (;;) {
            const std::int64_t offset = lead + elapsed.elapsed();
            if (offset > lw::kMaxTimelineMs) {
                // Replays refuse offsets beyond the bound: end the capture here.
                std::cerr << "linewarden-capture: stopped after 100 days, the longest capture\n";
                app.quit();
                break;
            }
            const std::string bytes = port.input();
            if (bytes.empty()) break;
            put(lw::dataLine(offset, bytes));
        }
        if (writeFailed) {
            std::cerr << "linewarden-capture: writing the capture failed\n";
            status = 1;
            app.quit();
        }
    };
    lw::StopSignals stops;
    QObject::connect(&stops, &lw::StopSignals::requested, &app, [&] {
        takeInput();
        app.quit();
    });
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        takeInput();
        if (duration > 0 && elapsed.elapsed() >= duration * 1000) app.quit();
    });
    poll.start();
    app.exec();
    port.setPortOpen(false);
    if (file != stdout) std::fclose(file);
    return status;
}
