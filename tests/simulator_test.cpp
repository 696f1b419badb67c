#include "tools/simulator.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/busmonitor.h"
#include "support/fakes.h"
#include "tools/capturefile.h"
#include "tools/replay.h"

namespace sim = lw::sim;

namespace {

sim::Script script(std::string_view text) {
    auto r = sim::parseScript(text);
    if (!r.ok) {
        ADD_FAILURE() << "line " << r.line << ": " << r.error;
        return {};
    }
    return std::move(r.value);
}

TEST(SimScript, ParsesCommandsAndExpandsShows) {
    const auto s = script(
        "# demo\n at 1500ms unit 2-3 run interlock # trailing\r\nat 2s remote on\n"
        "at 1m unit all off\nat 10s unit 4 show 60s\nat 3s panic pk\nat 4s noise 25\nat 5m end\n");
    EXPECT_EQ(s.end, 300'000);
    // Ordered by time; the show became five steps.
    EXPECT_TRUE(std::is_sorted(s.events.begin(), s.events.end(),
                               [](const auto& a, const auto& b) { return a.at < b.at; }));
    ASSERT_EQ(s.events.size(), 11u);
    EXPECT_EQ(s.events[0].at, 1500);
    EXPECT_EQ(s.events[0].firstUnit, 2);
    EXPECT_EQ(s.events[0].lastUnit, 3);
    EXPECT_TRUE(s.events[0].interlock);
    std::vector<std::pair<std::int64_t, sim::UnitState>> show;
    for (const auto& e : s.events) {
        if (e.kind == sim::Event::Kind::Unit && e.firstUnit == 4) show.emplace_back(e.at, e.state);
    }
    const std::vector<std::pair<std::int64_t, sim::UnitState>> expected = {
        {10'000, sim::UnitState::Start},
        {14'000, sim::UnitState::Run},
        {50'000, sim::UnitState::Ending},
        {70'000, sim::UnitState::NoFilm},
        {90'000, sim::UnitState::FilmIn}};
    EXPECT_EQ(show, expected);
}

TEST(SimScript, ErrorsNameTheirLine) {
    for (const auto& [text, line] :
         std::vector<std::pair<std::string, int>>{{"at 1s unit 17 run\n", 1},
                                                  {"\nat soon remote on\n", 2},
                                                  {"at 1s unit 1 dance\n", 1},
                                                  {"at 1s unit 1 run sideways\n", 1},
                                                  {"at 1s noise 2000\n", 1},
                                                  {"at 1s unit 1 show 5s\n", 1},
                                                  {"at 0s remote on\nremote off\n", 2},
                                                  {"at 1s panic now\n", 1}}) {
        auto r = sim::parseScript(text);
        ASSERT_FALSE(r.ok) << text;
        EXPECT_EQ(r.line, line) << text;
    }
    for (auto name : sim::builtinScenarioNames()) {
        EXPECT_TRUE(sim::parseScript(*sim::builtinScenario(name)).ok) << name;
    }
}

TEST(Simulator, PacesTheLineAtTenBitsACharacter) {
    for (int baud : {4800, 1200}) {
        sim::BusSimulator bus(script("at 0s unit 1-16 run\n"), 1, baud);
        std::size_t total = 0;
        for (int i = 0; i < 100; ++i) total += bus.advance(10).size();
        EXPECT_EQ(total, static_cast<std::size_t>(baud / 10)) << baud;
    }
    sim::BusSimulator quiet(script("at 5s unit 1 run\n"), 1, 4800);
    EXPECT_EQ(quiet.advance(5000), "");
    sim::BusSimulator remote(script("at 0s remote on\n"), 1, 4800);
    const std::string t = remote.advance(1000);
    EXPECT_EQ(t, "TTTT");
}

TEST(Simulator, SameSeedSameBytes) {
    const auto s = script(*sim::builtinScenario("noisy"));
    sim::BusSimulator a(s, 7, 4800), b(s, 7, 4800), c(s, 8, 4800);
    std::string x, y, z;
    for (int i = 0; i < 300; ++i) {
        x += a.advance(100);
        y += b.advance(100);
        z += c.advance(100);
    }
    EXPECT_EQ(x, y);
    EXPECT_NE(x, z);
    EXPECT_NE(x.find("PK"), std::string::npos);
}

TEST(Simulator, NoiseIsNeverAProtocolCharacter) {
    sim::BusSimulator bus(script("at 0s noise 1000\nat 0s unit 1 run\n"), 3, 4800);
    const std::string out = bus.advance(10'000);
    int noise = 0;
    for (unsigned char c : out) noise += !lw::isKnownBusChar(c);
    EXPECT_GT(noise, 1000);
    std::string frames;
    for (char c : out) {
        if (lw::isKnownBusChar(static_cast<unsigned char>(c))) frames += c;
    }
    EXPECT_EQ(frames.substr(0, 1), "0");
}

// The simulator's quick pattern, recorded in 100 ms slices as the capture tool
// does and replayed: every report it is made to cause, in order.
TEST(Simulator, QuickScenarioGivesItsReportsThroughTheMonitor) {
    sim::BusSimulator bus(script(*sim::builtinScenario("quick")), 1, 4800);
    lw::Capture cap;
    cap.start = {2002, 3, 1, 20, 0, 0, 0};
    for (std::int64_t t = 100; !bus.finished(); t += 100) {
        std::string bytes = bus.advance(100);
        if (!bytes.empty()) cap.chunks.push_back({t, std::move(bytes)});
    }
    lw::ReplayOptions opt;
    opt.logPath = "log";
    opt.activity = true;
    lwtest::MemorySink sink;
    lw::runReplay(cap, opt, sink, nullptr);
    std::vector<std::string> heads;
    for (const auto& e : sink.entries) heads.push_back(e.record.substr(0, e.record.find(" 8:")));
    const std::vector<std::string> expected = {
        "KX-40 #1 HAS BEEN STARTED",
        "KX-40 #2 HAS BEEN STARTED IN INTERLOCK",
        "KX-40 #3 !!!!!*   FAILED BECAUSE OF MOTION   *!!!!! 0:00:04 INTO THE SHOW, AT ",
        "KX-40 #2 !!!!!*  FAILED IN INTERLOCK BECAUSE OF  PRESENCE   *!!!!! 0:00:05 INTO THE "
        "SHOW, AT",
        "KX-40 #1 FEATURE ENDED",
    };
    EXPECT_EQ(heads, expected);
}

struct MisframeRow {
    int line;
    int listen;
    std::string_view chars;
    unsigned char heard;
};

TEST(MismatchedLine, FramesWhatAReceiverAtAnotherSpeedSamples) {
    // A receiver four times faster sees the start bit three times, then d0
    // four times and d1; one four times slower takes a bit of every fourth
    // line bit over four characters.
    const MisframeRow rows[] = {
        {1200, 4800, "T", 0x00},    {1200, 4800, "u", 0x78},    {1200, 4800, "\x03", 0xF8},
        {1200, 4800, "\x02", 0x80}, {4800, 1200, "0iuT", 0x25}, {4800, 9600, "\x01", 0x06},
        {4800, 1200, "TTjT", 0x00},  // would read "0", a unit's address
    };
    for (const auto& r : rows) {
        EXPECT_EQ(sim::charsPerMisframe(r.line, r.listen), r.chars.size())
            << r.line << "/" << r.listen;
        EXPECT_EQ(sim::misframe(r.chars, r.line, r.listen), r.heard)
            << r.line << "/" << r.listen << " " << r.chars;
    }
    EXPECT_EQ(sim::charsPerMisframe(4800, 2400), 2u);
    EXPECT_EQ(sim::charsPerMisframe(4800, 4800), 1u);
}

// A busy bus (every unit, the master remote box) heard at the wrong speed:
// the slower of the two rates, and through the monitor only noise.
TEST(MismatchedLine, AWrongSpeedHearsNoiseAndNoUnitsAtTheSlowerRate) {
    for (const auto& [line, listen] : {std::pair{4800, 1200}, std::pair{1200, 4800}}) {
        sim::BusSimulator bus(script("at 0s remote on\nat 0s unit 1-16 run\nat 10s end\n"), 1,
                              line);
        sim::MismatchedLine wrong(line);
        sim::MismatchedLine right(line);
        lw::Capture cap;
        cap.start = {2002, 3, 1, 20, 0, 0, 0};
        std::size_t heard = 0;
        for (std::int64_t t = 20; !bus.finished(); t += 20) {
            const std::string sent = bus.advance(20);
            EXPECT_EQ(right.receive(sent, line), sent);
            std::string bytes = wrong.receive(sent, listen);
            EXPECT_EQ(bytes.find('T'), std::string::npos);
            heard += bytes.size();
            if (!bytes.empty()) cap.chunks.push_back({t, std::move(bytes)});
        }
        EXPECT_NEAR(static_cast<double>(heard), 120.0 * 10, 1.0) << line << "/" << listen;

        lw::ReplayOptions opt;
        opt.logPath = "log";
        opt.activity = opt.noise = true;
        lwtest::MemorySink sink;
        lw::runReplay(cap, opt, sink, nullptr);
        std::size_t noise = 0;
        for (const auto& e : sink.entries) {
            EXPECT_FALSE(e.record.starts_with("KX-40 #")) << e.record.substr(0, 40);
            noise += e.record.starts_with("***NOISE***");
        }
        EXPECT_GT(noise, 10u) << line << "/" << listen;
    }
}

TEST(MismatchedLine, FollowsTheListenerAcrossChunksAndSpeeds) {
    const std::string sent = "0iuT1jqT2vzT";
    sim::MismatchedLine whole(4800), bytewise(4800);
    std::string a = whole.receive(sent, 1200), b;
    for (char c : sent) b += bytewise.receive(std::string(1, c), 1200);
    EXPECT_EQ(a.size(), 3u);
    EXPECT_EQ(a, b);

    // A new speed starts afresh: the characters of an unfinished frame are gone.
    sim::MismatchedLine l(4800);
    EXPECT_EQ(l.receive("0iu", 1200), "");
    EXPECT_EQ(l.receive("T", 4800), "T");
    EXPECT_EQ(l.receive("1jq", 1200), "");
    EXPECT_EQ(l.receive("T", 0), "");
    EXPECT_EQ(l.receive("2vzT", 1200).size(), 1u);
}

}  // namespace
