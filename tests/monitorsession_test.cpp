#include "core/monitorsession.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/contractjson.h"
#include "support/fakes.h"

using lw::ReportKind;
using lwtest::Rig;

namespace {

struct Seen {
    ReportKind kind;
    std::string time;
    std::string date;
    std::string text;
    bool written;
    std::string error;
};

std::vector<Seen>& watch(Rig& rig, std::vector<Seen>& seen) {
    rig.session.setRecordObserver([&seen](const lw::RecordEvent& e) {
        seen.push_back({e.kind, std::string(e.timeText), std::string(e.dateText),
                        std::string(e.text), e.written, std::string(e.error)});
    });
    return seen;
}

// How each kind's record begins on this rig.
const std::map<ReportKind, std::string> kHeads = {
    {ReportKind::Started, "KX-40 #1 HAS BEEN STARTED "},
    {ReportKind::Noise, "***NOISE*** "},
    {ReportKind::PanicStop, "!!!!!!!!!!! PANIC STOP DETECTED "},
    {ReportKind::RawBlock, "RAW COMM DATA LOG "},
    {ReportKind::QuickSave, "COMM WINDOW QUICK SAVE "}};

TEST(MonitorSession, ObserverSeesWhatTheLogGetsInOrder) {
    Rig rig;
    std::vector<Seen> seen;
    watch(rig, seen);
    rig.tick("0iq");                     // started
    rig.tick("0iu@");                    // noise lights the lamp: no record yet
    rig.tick("0iu@");                    // noise while lit
    rig.tick("PK");                      // panic
    rig.tick(std::string(900, 's'));     // raw block past 900
    rig.session.quickSave("typed\r\n");  // whatever the options say
    ASSERT_EQ(seen.size(), rig.sink.entries.size());
    std::set<ReportKind> kinds;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const Seen& s = seen[i];
        EXPECT_EQ(s.text, rig.sink.entries[i].record) << i;  // the same record, in the same place
        EXPECT_TRUE(s.written);
        EXPECT_EQ(s.time, "10:15:07 PM");
        EXPECT_EQ(s.date, "3/1/2002");
        kinds.insert(s.kind);
        const auto head = kHeads.find(s.kind);
        ASSERT_NE(head, kHeads.end()) << "unexpected record " << s.text;
        EXPECT_EQ(s.text.rfind(head->second, 0), 0u) << s.text;
    }
    EXPECT_EQ(kinds.size(), 5u);
    EXPECT_EQ(seen.front().kind, ReportKind::Started);
    EXPECT_EQ(seen.back().kind, ReportKind::QuickSave);
}

TEST(MonitorSession, ObserverOnlySeesRecordsTheOptionsLetThrough) {
    Rig rig;
    std::vector<Seen> seen;
    watch(rig, seen);
    rig.options.unitactivity = 0;
    rig.options.busnoise = 2;  // greyed counts as off
    rig.tick("0iq@");
    rig.tick("0iu@");
    EXPECT_TRUE(seen.empty());
    rig.options.unitactivity = 1;
    rig.tick("1iq");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, ReportKind::Started);
    EXPECT_EQ(seen[0].text.rfind("KX-40 #2 HAS BEEN STARTED ", 0), 0u);
}

TEST(MonitorSession, ObserverIsToldOfFailedWritesWithTheWholeRecord) {
    Rig rig;
    std::vector<Seen> seen;
    watch(rig, seen);
    int failures = 0;
    rig.reports.setFailureHandler([&](const lw::LogFailure&) { ++failures; });
    rig.sink.failing = true;
    rig.tick("0iq");
    rig.tick("PK");
    const lw::Result<> saved = rig.session.quickSave("x");
    EXPECT_FALSE(saved.ok);
    ASSERT_EQ(seen.size(), 3u);
    for (const Seen& s : seen) {
        EXPECT_FALSE(s.written);
        EXPECT_EQ(s.error, "disk on fire");
    }
    EXPECT_EQ(seen[1].text, "!!!!!!!!!!! PANIC STOP DETECTED 10:15:07 PM  3/1/2002\r\n" +
                                std::string(52, '!') + "\r\n");
    EXPECT_EQ(failures, 1);  // once per streak, the observer every time
    EXPECT_EQ(rig.reports.dropped(), 3u);
    rig.sink.failing = false;
    rig.tick("PK");
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[3].written);
    EXPECT_TRUE(seen[3].error.empty());
}

TEST(MonitorSession, QuickSaveTakesOneInstantOfTheClock) {
    Rig rig;
    rig.options.rawdata = rig.options.busnoise = rig.options.unitactivity = 0;
    rig.time.advance(2 * 3600 * 1000 - 1000);  // 00:15:06 the next day
    EXPECT_TRUE(rig.session.quickSave("0iq").ok);
    ASSERT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_EQ(rig.sink.entries[0].path, "log.txt");
    EXPECT_EQ(rig.sink.entries[0].record,
              "COMM WINDOW QUICK SAVE 12:15:06 AM  3/2/2002\r\n0iq\r\n" + std::string(lw::kRule) +
                  "\r\n");
}

TEST(MonitorSession, LoadReadsTheNamesOnceTheBoardIsEmpty) {
    lw::ManualTime time(lw::CivilTime{2002, 3, 1, 22, 15, 7, 0});
    lwtest::FakePort port;
    lwtest::CountingBeeper beeper;
    lwtest::MemorySink sink;
    port.open = true;
    port.pending.push_back("0iq");  // read by the load's tick
    std::vector<std::string> shownAtRead;
    lw::MonitorSession session(lw::SessionDeps{.port = port,
                                               .time = time,
                                               .beeper = beeper,
                                               .sink = sink,
                                               .logOptions =
                                                   [] {
                                                       return lw::LogOptions{1, 1, 1, "log.txt"};
                                                   },
                                               .versionChoice = {},
                                               .names =
                                                   [&](lw::UnitNames& captions) {
                                                       shownAtRead.assign(captions.begin(),
                                                                          captions.end());
                                                       captions[0] = "Alpha";
                                                       return lw::Result<>{false, "cannot write"};
                                                   }});
    const lw::Result<> r = session.load();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "cannot write");
    ASSERT_EQ(shownAtRead.size(), 16u);
    EXPECT_EQ(shownAtRead[15], "16");
    EXPECT_EQ(session.board().slot(1).name, "Alpha");  // kept even when the write failed
    EXPECT_EQ(session.board().slot(1).status, "STARTING");
    EXPECT_EQ(sink.entries.size(), 1u);  // the load's tick reports like any other
}

// The clock tick tells which later tick can next count a second. Running
// only those, on the same 100 ms grid, must count exactly what running every
// tick counts, wherever the grid falls in the second.
TEST(MonitorSession, ClockTicksPassedOverWouldHaveCountedNothing) {
    for (const int phase : {0, 1, 37, 99, 100, 450, 901, 999}) {
        Rig every;
        Rig sparse;
        every.tick("0iq");  // unit 1 starts: its clock runs
        sparse.tick("0iq");
        int next = 1;  // the sparse rig's next tick
        int ran = 0;
        for (int k = 1; k <= 200; ++k) {
            const int at = phase + 100 * k;
            every.time.setOffset(at);
            const std::string before = every.slot(1).clock;
            every.session.clockTick();
            const bool counted = every.slot(1).clock != before;
            if (k < next) {
                ASSERT_FALSE(counted) << "phase " << phase << " tick " << k << " was passed over";
                continue;
            }
            sparse.time.setOffset(at);
            next = k + sparse.session.clockTick();
            ++ran;
            ASSERT_EQ(sparse.slot(1).clock, every.slot(1).clock) << "phase " << phase << " tick " << k;
        }
        // The first tick counts (no second seen yet), then each turn of the
        // seconds over the 20 s.
        const int turns = 1 + (phase + 20000) / 1000 - (phase + 100) / 1000;
        EXPECT_EQ(every.slot(1).clock, "0:00:" + std::to_string(turns)) << phase;
        EXPECT_LE(ran, 21) << "phase " << phase << ": one wake-up a second, at most one more";
    }
}

}  // namespace

namespace {

// Seconds after the rig's start, as the contract writes them.
std::string at(int s) {
    return lw::isoText(lw::addZonedMilliseconds(lw::ZonedTime{{2002, 3, 1, 22, 15, 7, 0}, 0}, s * 1000));
}

std::string kinds(const std::vector<lw::BoardEvent>& events) {
    std::string out;
    for (const auto& e : events) out += (out.empty() ? "" : " ") + std::string(lw::eventName(e.kind));
    return out;
}

}  // namespace

TEST(UnitContract, StateSinceAndShowStartFollowTheUnit) {
    Rig rig;
    std::vector<lw::BoardEvent> events;
    rig.session.setEventObserver([&events](const lw::BoardEvent& e) { events.push_back(e); });
    struct Row {
        int second;  // the tick's time, seconds after the start
        std::string input;
        const char* state;
        bool interlock;
        const char* cause;  // "" for none
        int since;
        int showStarted;  // -1: no show
        const char* events;
    };
    const Row rows[] = {
        {1, "0iq", "starting", false, "", 1, 1, "started"},
        {5, "0iu", "running", false, "", 5, 1, ""},
        // A start during a show resets its clock: a new show.
        {9, "0iq", "starting", false, "", 9, 9, "started"},
        {12, "0iN", "closing", true, "", 12, 9, ""},
        // A start straight after the end goes on counting the same show.
        {14, "0iQ", "starting", true, "", 14, 9, ""},
        {20, "0ih", "failed", false, "presence", 20, -1, "failed"},
        // Another cause is the same state; no show ran, so no event.
        {21, "0iM", "failed", true, "motion", 20, -1, ""},
        {22, "0iz", "ready", false, "", 22, -1, ""},
        // The stopped clock resumes where it stood: the show began 11 s back.
        {23, "0iu", "running", false, "", 23, 12, ""},
    };
    int now = 0;
    for (const Row& r : rows) {
        for (; now < r.second; ++now) {
            rig.time.advance(1000);
            rig.session.clockTick();
        }
        events.clear();
        rig.tick(r.input);
        const lw::UnitView u = rig.session.unitView(1);
        SCOPED_TRACE(r.input + " at " + std::to_string(r.second));
        EXPECT_EQ(lw::stateName(u.state), r.state);
        EXPECT_EQ(u.interlock, r.interlock);
        EXPECT_EQ(u.cause, r.cause);
        EXPECT_EQ(lw::isoText(u.since), at(r.since));
        EXPECT_EQ(u.showStarted ? lw::isoText(*u.showStarted) : "-", r.showStarted < 0 ? "-" : at(r.showStarted));
        EXPECT_EQ(kinds(events), r.events);
    }
    // The failure's event carries the show time and cause of that moment.
    rig.tick("0ih");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(lw::eventJson(events[0]),
              "{\"kind\":\"failed\",\"unit\":1,\"name\":\"1\",\"interlock\":false,\"cause\":"
              "\"presence\",\"clock\":\"0:00:11\",\"at\":\"" + at(23) + "\",\"seq\":4}");
    // Silence: the unit falls back to absent after its presence runs out.
    rig.ticks(60);
    EXPECT_EQ(lw::stateName(rig.session.unitView(1).state), "absent");
    EXPECT_FALSE(rig.session.unitView(1).showStarted);
}

TEST(UnitContract, BusEventsNoiseOncePerTickAndLogFailures) {
    Rig rig;
    std::vector<lw::BoardEvent> events;
    rig.session.setEventObserver([&events](const lw::BoardEvent& e) { events.push_back(e); });
    rig.session.portChanged(lw::PortState::Open);  // the first open is no news
    rig.time.advance(5000);
    rig.session.portChanged(lw::PortState::Lost);
    rig.session.portChanged(lw::PortState::Lost);
    EXPECT_EQ(rig.session.view().bus.port, lw::PortState::Lost);
    EXPECT_EQ(lw::isoText(rig.session.view().bus.portSince), at(5));
    rig.session.portChanged(lw::PortState::Open);
    rig.session.portChanged(lw::PortState::Closed);
    EXPECT_EQ(kinds(events), "bus_lost bus_back");
    EXPECT_EQ(lw::eventJson(events[0]),
              "{\"kind\":\"bus_lost\",\"unit\":null,\"name\":null,\"interlock\":false,\"cause\":"
              "null,\"clock\":null,\"at\":\"" + at(5) + "\",\"seq\":1}");

    events.clear();
    rig.tick("@@@");  // lights the lamp; no report yet
    rig.sink.failing = true;
    rig.tick("@@@@");  // seven noise reports, each a failed write
    EXPECT_EQ(kinds(events), "noise log_failed");
    EXPECT_EQ(events[1].text, "cannot write the activity log log.txt: disk on fire");
}
