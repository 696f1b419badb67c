// linewarden-sim: plays the KX-40 bus side on a pseudo-terminal or a serial device.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/stopsignals.h"
#include "tools/simulator.h"
#include "core/commandline.h"

#ifdef Q_OS_UNIX
#include "tools/pty.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: linewarden-sim [--scenario NAME | --script FILE] [--device PATH | --link PATH]\n"
    "                      [--baud 4800|1200] [--seed N] [--speed N] [--loop] [--duration S]\n"
    "                      [--list] [--version]\n"
    "\n"
    "Plays the KX-40 bus: up to 16 units, the master remote box, panics and noise.\n"
    "Without --device it makes a pseudo-terminal, prints its path and, with --link,\n"
    "points a symlink at it. The line is paced at the baud rate (ten bits a character);\n"
    "on a pseudo-terminal a listener set to another speed hears garbled bytes.\n"
    "  --scenario NAME   a built-in scenario (default show-night; --list names them)\n"
    "  --script FILE     a scenario file (see docs/simulator.md)\n"
    "  --speed N         run N times faster than real time\n"
    "  --loop            start the scenario again when it ends\n"
    "  --duration S      stop after S seconds of real time\n";

int usage(const std::string& msg) { return lw::cli::usageError("linewarden-sim", msg, kUsage); }

// Where the bus bytes go.
class Line {
public:
    virtual ~Line() = default;
    virtual void send(const std::string& bytes) = 0;
    virtual std::size_t cameBack() = 0;  // bytes the listening side wrote to us
};

#ifdef Q_OS_UNIX
// A pseudo-terminal carries any speed, so the line's speed is honoured here:
// a listener set to another speed hears what a mismatched UART hears.
class PtyLine final : public Line {
public:
    PtyLine(lw::Pty pty, int baud) : m_pty(std::move(pty)), m_baud(baud), m_heard(baud) {}
    void send(const std::string& bytes) override {
        const bool sees = lw::Pty::seesLineSpeed();
        const int listen = sees ? m_pty.lineSpeed() : m_baud;
        if (listen != m_listen) {
            // What waits unread was sent for the listener before.
            m_pty.discardUnread();
            m_listen = listen;
            if (sees) {
                std::cout << "linewarden-sim: "
                          << (listen ? "listener at " + std::to_string(listen) + " baud"
                                     : std::string("no listener"))
                          << std::endl;
            }
        }
        if (listen == 0) {
            m_pty.discardUnread();  // nobody has the line open: lost, as on a real line
            return;
        }
        const std::string heard = m_heard.receive(bytes, listen);
        if (m_pty.write(heard) < heard.size()) {
            m_pty.discardUnread();  // nobody is reading: no backlog for later
            m_pty.write(heard);
        }
    }
    std::size_t cameBack() override { return m_back += m_pty.readAvailable().size(); }

private:
    lw::Pty m_pty;
    int m_baud;
    int m_listen = -1;
    lw::sim::MismatchedLine m_heard;
    std::size_t m_back = 0;
};
#endif

class SerialLine final : public Line {
public:
    explicit SerialLine(std::unique_ptr<QSerialPort> port) : m_port(std::move(port)) {}
    void send(const std::string& bytes) override {
        m_port->write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    std::size_t cameBack() override {
        return m_back += static_cast<std::size_t>(m_port->readAll().size());
    }

private:
    std::unique_ptr<QSerialPort> m_port;
    std::size_t m_back = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string scenario = "show-night", scriptFile, device, link;
    std::int64_t baud = 4800, seed = 1, speed = 1, duration = 0;
    bool loop = false;

    lw::cli::ArgReader args(argc, argv);
    if (auto done = lw::cli::standardAnswer(args.all(), "linewarden-sim", kUsage)) return *done;
    while (args.next()) {
        const std::string& a = args.current();
        auto value = [&] { return args.value(); };
        auto number = [&](std::int64_t& out) {
            const auto n = args.number();
            if (!n) return false;
            out = *n;
            return true;
        };
        if (a == "--list") {
            for (auto n : lw::sim::builtinScenarioNames()) std::cout << n << "\n";
            return 0;
        } else if (a == "--scenario") {
            const auto v = value();
            if (!v) return usage("--scenario needs a name");
            scenario = *v;
        } else if (a == "--script") {
            const auto v = value();
            if (!v) return usage("--script needs a file");
            scriptFile = *v;
        } else if (a == "--device") {
            const auto v = value();
            if (!v) return usage("--device needs a path");
            device = *v;
        } else if (a == "--link") {
            const auto v = value();
            if (!v) return usage("--link needs a path");
            link = *v;
        } else if (a == "--baud") {
            if (!number(baud) || (baud != 4800 && baud != 1200))
                return usage("--baud is 4800 or 1200");
        } else if (a == "--seed") {
            if (!number(seed)) return usage("--seed needs a number");
        } else if (a == "--speed") {
            if (!number(speed) || speed < 1 || speed > 1000) return usage("--speed is 1 to 1000");
        } else if (a == "--duration") {
            if (!number(duration)) return usage("--duration needs seconds");
        } else if (a == "--loop") {
            loop = true;
        } else {
            return usage("unknown argument " + a);
        }
    }

    std::string text;
    std::string source = scenario;
    if (!scriptFile.empty()) {
        std::ifstream in(scriptFile, std::ios::binary);
        if (!in) return usage("cannot read " + scriptFile);
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
        source = scriptFile;
    } else if (auto builtin = lw::sim::builtinScenario(scenario)) {
        text = std::string(*builtin);
    } else {
        return usage("no scenario named " + scenario + " (try --list)");
    }
    auto parsed = lw::sim::parseScript(text);
    if (!parsed.ok) {
        std::cerr << source << ":" << parsed.line << ": " << parsed.error << "\n";
        return 2;
    }
    lw::sim::BusSimulator sim(std::move(parsed.value), static_cast<std::uint64_t>(seed),
                              static_cast<int>(baud));

    std::unique_ptr<Line> line;
    std::string where;
    if (!device.empty()) {
        auto port = std::make_unique<QSerialPort>(QString::fromStdString(device));
        port->setBaudRate(static_cast<qint32>(baud));
        if (!port->open(QIODevice::ReadWrite)) {
            std::cerr << "linewarden-sim: cannot open " << device << ": "
                      << port->errorString().toStdString() << "\n";
            return 1;
        }
        where = device;
        line = std::make_unique<SerialLine>(std::move(port));
    } else {
#ifdef Q_OS_UNIX
        lw::Pty pty;
        std::string err;
        if (!pty.create(&err)) {
            std::cerr << "linewarden-sim: no pseudo-terminal: " << err << "\n";
            return 1;
        }
        where = pty.slavePath();
        if (!link.empty()) {
            QFile::remove(QString::fromStdString(link));
            if (!QFile::link(QString::fromStdString(where), QString::fromStdString(link))) {
                std::cerr << "linewarden-sim: cannot make the link " << link << "\n";
                return 1;
            }
        }
        line = std::make_unique<PtyLine>(std::move(pty), static_cast<int>(baud));
#else
        return usage("this platform has no pseudo-terminals: give --device");
#endif
    }
    std::cout << "linewarden-sim: bus on " << where << (link.empty() ? "" : " (" + link + ")")
              << ", scenario " << source << ", " << baud << " baud, speed " << speed << "x"
              << std::endl;

    lw::StopSignals stops;
    QObject::connect(&stops, &lw::StopSignals::requested, &app, &QCoreApplication::quit);
    QElapsedTimer clock;
    clock.start();
    std::int64_t simulatedMs = 0;
    QTimer pace;
    pace.setInterval(20);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const std::int64_t due = clock.elapsed() * speed;
        if (due > simulatedMs) {
            line->send(sim.advance(due - simulatedMs));
            simulatedMs = due;
        }
        if (sim.finished()) {
            if (!loop) {
                app.quit();
                return;
            }
            sim.restart();
        }
        if (duration > 0 && clock.elapsed() >= duration * 1000) app.quit();
    });
    pace.start();
    app.exec();

    const std::size_t back = line->cameBack();
    std::cout << "linewarden-sim: " << back << " bytes came back from the line" << std::endl;
    if (!link.empty()) QFile::remove(QString::fromStdString(link));
    return 0;
}
