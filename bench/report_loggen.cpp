// Writes activity logs for the night report's benchmark (bench/report_bench.sh),
// with the monitor's own record writer:
//   report_loggen night FILE      one busy night, every kind of record on
//   report_loggen year FILE       365 busy nights, unit activity only
//   report_loggen raw FILE MB     raw blocks only, about MB megabytes
//   report_loggen noise FILE MB   noise records only, about MB megabytes
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "core/reports.h"
#include "core/timetext.h"

namespace {

using lw::ReportKind;

struct Event {
    std::int64_t t;  // seconds from 2026-01-01 12:00
    ReportKind kind;
    int unit;
};

const lw::CivilTime kStart{2026, 1, 1, 12, 0, 0, 0};

// Appends records as the monitor formats them, with bus-like raw data and buffers.
class Writer {
public:
    explicit Writer(const std::string& path) : m_out(path, std::ios::binary) {}
    void write(const Event& e, std::mt19937_64& rng) {
        const lw::CivilTime at = lw::addMilliseconds(kStart, e.t * 1000);
        if (e.t != m_lastT) {
            m_time = lw::timeText(at);
            m_date = lw::dateText(at);
            m_lastT = e.t;
        }
        lw::ReportPieces p;
        const std::string name = std::to_string(e.unit);
        p.name = name;
        p.cause = rng() % 2 ? " PRESENCE " : " MOTION ";
        const std::string clock =
            "1:" + std::to_string(10 + rng() % 50) + ":0" + std::to_string(rng() % 10);
        p.clock = clock;
        m_bus.clear();
        const std::size_t n =
            e.kind == ReportKind::RawBlock ? 901 + rng() % 100 : 200 + rng() % 200;
        while (m_bus.size() < n) {
            m_bus += static_cast<char>('0' + rng() % 16);
            m_bus += "iu";
            if (rng() % 40 == 0) m_bus += "T";
            if (e.kind == ReportKind::Noise && rng() % 30 == 0) m_bus += "\x7F@";
        }
        p.raw = p.buffer = m_bus;
        m_out << lw::formatRecord(e.kind, m_time, m_date, p);
    }
    std::ofstream& stream() { return m_out; }

private:
    std::ofstream m_out;
    std::int64_t m_lastT = -1;
    std::string m_time, m_date, m_bus;
};

// One busy night from noon `day` days after the start: sixteen units, four
// shows each, a few stops, failures and panic stops; with `all`, a raw block
// every 2.4 s (a bus at 4800 baud) and bursts of noise.
std::vector<Event> night(int day, bool all, std::mt19937_64& rng) {
    std::vector<Event> ev;
    const std::int64_t base = static_cast<std::int64_t>(day) * 86400;
    for (int u = 1; u <= 16; ++u) {
        for (int show = 0; show < 4; ++show) {
            const std::int64_t s =
                base + 7200 + show * 9000 + u * 120 + static_cast<std::int64_t>(rng() % 300);
            const bool il = u % 4 == 0;
            ev.push_back({s, il ? ReportKind::StartedInterlock : ReportKind::Started, u});
            const auto r = rng() % 20;
            const ReportKind end =
                r == 0   ? (il ? ReportKind::FailedInterlock : ReportKind::Failed)
                : r == 1 ? (il ? ReportKind::StoppedReadyInterlock : ReportKind::StoppedReady)
                         : (il ? ReportKind::FeatureEndedInterlock : ReportKind::FeatureEnded);
            ev.push_back({s + 5400 + static_cast<std::int64_t>(rng() % 1200), end, u});
        }
    }
    for (int k = 0; k < 3; ++k)
        ev.push_back(
            {base + 3600 + static_cast<std::int64_t>(rng() % 70000), ReportKind::PanicStop, 0});
    if (all) {
        for (std::int64_t t = 0; t < 86400; t += 2 + (t % 5 == 0))
            ev.push_back({base + t, ReportKind::RawBlock, 0});
        for (std::int64_t burst = 1800; burst < 86400; burst += 1800) {
            for (int k = 0; k < 40; ++k) ev.push_back({base + burst + k / 3, ReportKind::Noise, 0});
        }
    }
    std::stable_sort(ev.begin(), ev.end(),
                     [](const Event& a, const Event& b) { return a.t < b.t; });
    return ev;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: report_loggen night|year|raw|noise FILE [MB]\n";
        return 2;
    }
    const std::string mode = argv[1];
    Writer w(argv[2]);
    std::mt19937_64 rng(42);
    if (mode == "night" || mode == "year") {
        const int nights = mode == "year" ? 365 : 1;
        for (int d = 0; d < nights; ++d) {
            for (const Event& e : night(d, mode == "night", rng)) w.write(e, rng);
        }
    } else if (mode == "raw" || mode == "noise") {
        const std::uint64_t bytes = (argc > 3 ? std::stoull(argv[3]) : 256) << 20;
        const ReportKind kind = mode == "raw" ? ReportKind::RawBlock : ReportKind::Noise;
        for (std::int64_t t = 0; static_cast<std::uint64_t>(w.stream().tellp()) < bytes; t += 1) {
            w.write({t / 4, kind, 0}, rng);
        }
    } else {
        std::cerr << "report_loggen: unknown mode " << mode << "\n";
        return 2;
    }
    w.stream().close();
    return w.stream() ? 0 : 1;
}
