// A day of simulated bus through the monitor at full speed: memory stays
// flat hour after hour and every record is well formed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "core/busmonitor.h"
#include "tools/replay.h"
#include "tools/simulator.h"

namespace {

constexpr std::string_view kDay = R"(# An hour of a cinema's evening, over and over.
at 0s remote on
at 0s unit 1-8 film-in
at 1m unit 1-4 show 20m
at 3m unit 5-8 show 15m interlock
at 10m noise 30
at 12m noise 0
at 14m panic pk
at 16m unit 2 fail-presence
at 17m unit 7 fail-motion interlock
at 19m unit 2 film-in
at 20m unit 7 film-in
at 30m unit 1-8 show 10m
at 38m noise 1000
at 42m panic p
at 43m noise 0
at 45m unit all off
at 45m remote off
at 50m remote on
at 52m unit 1-16 film-in
at 60m end
)";

class SimInput final : public lw::TimedInput {
public:
    explicit SimInput(lw::sim::BusSimulator& s) : m_sim(s) {}
    void setNow(std::int64_t t) override {
        m_pending += m_sim.advance(t - m_last);
        m_last = t;
        if (m_sim.finished()) m_sim.restart();
    }
    std::string input() override {
        const std::size_t n = std::min(m_pending.size(), lw::kReadCap);
        std::string out = m_pending.substr(0, n);
        m_pending.erase(0, n);
        return out;
    }
    std::size_t backlog() const { return m_pending.size(); }

private:
    lw::sim::BusSimulator& m_sim;
    std::string m_pending;
    std::int64_t m_last = 0;
};

// Checks each record as it would be appended, keeps nothing.
class CheckingSink final : public lw::LogSink {
public:
    std::uint64_t records = 0;
    std::uint64_t bad = 0;
    lw::Result<> append(const std::string&, std::string_view r) override {
        ++records;
        const bool head = r.starts_with("RAW COMM DATA LOG ") || r.starts_with("***NOISE*** ") ||
                          r.starts_with("!!!!!!!!!!! PANIC STOP DETECTED ") ||
                          r.starts_with("KX-40 #");
        const std::string rule = "\r\n" + std::string(lw::kRule) + "\r\n";
        const std::string bangs = "\r\n" + std::string(lw::kBangs) + "\r\n";
        if (!head || !(r.ends_with(rule) || r.ends_with(bangs))) ++bad;
        return {};
    }
};

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * 4;
}

TEST(Soak, ADayOfBusKeepsMemoryFlat) {
    const char* env = std::getenv("LW_SOAK_HOURS");
    const int hours = env ? std::atoi(env) : 24;
    auto parsed = lw::sim::parseScript(kDay);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    lw::sim::BusSimulator sim(std::move(parsed.value), 20020301, 4800);
    SimInput port(sim);
    CheckingSink sink;

    lw::Timeline line;
    line.start = {2002, 3, 1, 18, 0, 0, 0};
    line.version = "HUB7";
    line.end = static_cast<std::int64_t>(hours) * 3'600'000;
    std::vector<long> rssByHour;
    std::size_t worstBuffer = 0, worstRaw = 0, worstBacklog = 0;
    line.afterTick = [&](std::int64_t t, const lw::MonitorSession& m) {
        worstBuffer = std::max(worstBuffer, m.decoder().busbuffer.size());
        worstRaw = std::max(worstRaw, m.decoder().rawlog.size());
        worstBacklog = std::max(worstBacklog, port.backlog());
        if (t % 3'600'000 == 0) rssByHour.push_back(residentKiB());
    };
    lw::ReplayOptions opt;
    opt.logPath = "checked";
    opt.raw = opt.noise = opt.activity = true;
    const lw::ReplayStats stats = lw::runTimeline(port, line, opt, sink, nullptr);

    EXPECT_EQ(stats.decoderTicks, static_cast<std::uint64_t>(hours) * 4500u);
    EXPECT_EQ(sink.bad, 0u);
    EXPECT_GT(sink.records, static_cast<std::uint64_t>(hours) * 100u);
    EXPECT_GT(stats.beeps, 0u);
    EXPECT_LE(worstBuffer, 3u + lw::kReadCap);
    EXPECT_LE(worstRaw, lw::kRawBlockLimit);
    EXPECT_LT(worstBacklog, lw::kReadCap);  // the line never outruns the reads
    ASSERT_EQ(rssByHour.size(), static_cast<std::size_t>(hours));
    if (rssByHour.front() > 0) {
        for (std::size_t h = 1; h < rssByHour.size(); ++h) {
            EXPECT_LE(rssByHour[h], rssByHour[0] + 1024) << "hour " << h + 1;
        }
    }
}

}  // namespace
