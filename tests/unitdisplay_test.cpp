#include "core/unitdisplay.h"

#include <gtest/gtest.h>

#include "core/showclock.h"
#include "support/fakes.h"

using lw::Colour;
using lwtest::Rig;
namespace c = lw::colours;

namespace {

struct RowCase {
    char code;
    const char* text;
    Colour panel;
    Colour lamp;
};

void PrintTo(const RowCase& r, std::ostream* os) { *os << "code " << r.code; }

class StatusRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(StatusRows, TextAndLamps) {
    const RowCase& r = GetParam();
    Rig rig;
    rig.tick(std::string("3i") + r.code);
    EXPECT_EQ(rig.slot(4).status, r.text);
    EXPECT_EQ(rig.slot(4).panel, r.panel);
    EXPECT_EQ(rig.slot(4).lamp, r.lamp);
}

INSTANTIATE_TEST_SUITE_P(Display, StatusRows,
                         ::testing::Values(RowCase{'q', "STARTING", c::darkGreen, c::green},
                                           RowCase{'Q', "STARTING", c::darkGreen, c::blue},
                                           RowCase{'l', "NO FILM", c::black, c::black},
                                           RowCase{'L', "NO FILM", c::black, c::blue},
                                           RowCase{'z', "READY", c::red, c::red},
                                           RowCase{'Z', "READY", c::red, c::blue},
                                           RowCase{'n', "CLOSING", c::darkGreen, c::green},
                                           RowCase{'N', "CLOSING", c::darkGreen, c::blue},
                                           RowCase{'u', "SHOW RUN", c::green, c::green},
                                           RowCase{'U', "SHOW RUN", c::green, c::blue},
                                           // blink phase off at the first tick
                                           RowCase{'h', "HELP ME", c::green, c::red},
                                           RowCase{'M', "HELP ME", c::green, c::red}));

void second(Rig& rig, int s) {
    rig.time.setOffset(s * 1000);
    rig.session.clockTick();
}

TEST(UnitDisplay, FirstHeardInShowRunCountsFromZeroWithoutReport) {
    Rig rig;
    rig.tick("0iu");
    EXPECT_EQ(rig.slot(1).clock, " ");
    EXPECT_TRUE(rig.slot(1).clockrunning);
    second(rig, 1);
    EXPECT_EQ(rig.slot(1).clock, "0:00:01");
    EXPECT_TRUE(rig.sink.entries.empty());
}

TEST(UnitDisplay, StartThroughShowEndAndRestartReportsOnce) {
    Rig rig;
    rig.tick("0iqsss");
    EXPECT_EQ(rig.slot(1).clock, "0:00:00");
    second(rig, 1);
    rig.tick("0iusss");
    second(rig, 2);
    rig.tick("0insss");
    EXPECT_EQ(rig.slot(1).status, "CLOSING");
    second(rig, 3);
    rig.tick("0iqsss");  // a new show straight after the last one
    EXPECT_EQ(rig.slot(1).clock, "0:00:03");
    second(rig, 4);
    EXPECT_EQ(rig.slot(1).clock, "0:00:04");
    ASSERT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_EQ(rig.sink.entries[0].record, "KX-40 #1 HAS BEEN STARTED 10:15:07 PM   3/1/2002\r\n" +
                                              std::string(lw::kRule) + "\r\n");
}

TEST(UnitDisplay, StartDuringShowRunResetsCountersButNotTheText) {
    Rig rig;
    rig.tick("0iusss");
    for (int s = 1; s <= 5; ++s) second(rig, s);
    ASSERT_EQ(rig.slot(1).clock, "0:00:05");
    rig.tick("0iqsss");
    EXPECT_EQ(rig.slot(1).clock, "0:00:05");
    EXPECT_EQ(rig.slot(1).clockseconds, 0);
    second(rig, 6);
    EXPECT_EQ(rig.slot(1).clock, "0:00:01");
    EXPECT_EQ(rig.sink.entries.size(), 1u);
}

TEST(UnitDisplay, StartedInInterlockCarriesTheBuffer) {
    Rig rig;
    rig.tick("5jQ");
    ASSERT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_EQ(rig.sink.entries[0].record,
              "KX-40 #6 HAS BEEN STARTED IN INTERLOCK 10:15:07 PM   3/1/2002\r\nsss5jQ\r\n" +
                  std::string(lw::kRule) + "\r\n");
}

TEST(UnitDisplay, StopRowsReportOnlyWhenTheClockRan) {
    Rig rig;
    rig.tick("0iz1il2iZsss");  // clocks stopped: no reports
    EXPECT_TRUE(rig.sink.entries.empty());
    rig.tick("0iu1iu2iUsss");
    second(rig, 1);
    second(rig, 2);
    rig.tick("0iz1il2iZsss");
    const auto r = rig.records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_TRUE(r[0].starts_with("KX-40 #1 STOPPED AND READY 10:15:09 PM"));
    EXPECT_TRUE(r[1].starts_with("KX-40 #2 FEATURE ENDED 10:15:09 PM"));
    EXPECT_TRUE(r[2].starts_with("KX-40 #3 STOPPED AND READY IN INTERLOCK 10:15:09 PM"));
    EXPECT_EQ(rig.slot(1).clock, "0:00:02");  // frozen
    EXPECT_FALSE(rig.slot(1).clockrunning);
    second(rig, 3);
    EXPECT_EQ(rig.slot(1).clock, "0:00:02");
    rig.tick("0iqsss");  // a start from the stopped state shows 0:00:00 at once
    EXPECT_EQ(rig.slot(1).clock, "0:00:00");
}

TEST(UnitDisplay, FailureWhileRunningReportsOnceAndBeepsEveryTick) {
    Rig rig;
    rig.tick("2iusss");
    for (int s = 1; s <= 3; ++s) second(rig, s);
    rig.tick("2ihsss");
    ASSERT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_EQ(rig.sink.entries[0].record,
              "KX-40 #3 !!!!!*   FAILED BECAUSE OF PRESENCE   *!!!!! 0:00:03 INTO THE SHOW, AT  "
              "10:15:10 PM  ON THE 3/1/2002\r\n" +
                  std::string(lw::kRule) + "\r\n");
    EXPECT_EQ(rig.beeper.count(), 1u);
    rig.ticks(4);  // no new frame: presence keeps the failure
    EXPECT_EQ(rig.beeper.count(), 5u);
    EXPECT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_EQ(rig.slot(3).status, "HELP ME");
}

TEST(UnitDisplay, FailureFromReadyBeepsWithoutReport) {
    Rig rig;
    rig.tick("0iz");
    rig.tick("0im1iHsss");
    EXPECT_EQ(rig.slot(1).status, "HELP ME");
    EXPECT_TRUE(rig.sink.entries.empty());
    EXPECT_EQ(rig.beeper.count(), 2u);  // two failed slots, two beeps a tick
    rig.tick();
    EXPECT_EQ(rig.beeper.count(), 4u);
}

TEST(UnitDisplay, FailedLampsFollowTheBlinkPhase) {
    Rig rig;
    rig.session.blinkTick();  // phase on
    rig.tick("0ih1iHsss");
    EXPECT_EQ(rig.slot(1).panel, c::red);
    EXPECT_EQ(rig.slot(1).lamp, c::green);
    EXPECT_EQ(rig.slot(2).panel, c::red);
    EXPECT_EQ(rig.slot(2).lamp, c::blue);
    rig.session.blinkTick();  // off
    rig.tick();
    EXPECT_EQ(rig.slot(1).panel, c::green);
    EXPECT_EQ(rig.slot(1).lamp, c::red);
    EXPECT_EQ(rig.slot(2).panel, c::green);
    EXPECT_EQ(rig.slot(2).lamp, c::red);
}

TEST(UnitDisplay, InterlockFailureRecordLayoutAndEmptyName) {
    Rig rig;
    rig.session.board().slot(5).name = "";
    rig.tick("4iUsss");
    second(rig, 1);
    rig.tick("4iMsss");
    ASSERT_EQ(rig.sink.entries.size(), 1u);
    EXPECT_EQ(rig.sink.entries[0].record,
              "KX-40 # !!!!!*  FAILED IN INTERLOCK BECAUSE OF  MOTION   *!!!!! 0:00:01 INTO THE "
              "SHOW, AT 10:15:08 PM  ON THE  3/1/2002\r\n" +
                  std::string(lw::kRule) + "\r\n");
}

TEST(UnitDisplay, NotThereBlanksClockAndCounters) {
    lw::UnitSlot s;
    s.status = "SHOW RUN";
    s.clock = "1:02:03";
    s.clockrunning = true;
    s.clockhours = 1;
    s.clockminutes = 2;
    s.clockseconds = 3;
    lwtest::MemorySink sink;
    lw::EventReports reports(sink, [] { return lw::LogOptions{1, 1, 1, "x"}; });
    lwtest::CountingBeeper beeper;
    lw::updateUnitSlot(s, lw::SlotContext{reports, beeper, "t", "d", "b", false});
    EXPECT_EQ(s.status, " ");
    EXPECT_EQ(s.clock, " ");
    EXPECT_FALSE(s.clockrunning);
    EXPECT_EQ(s.clockhours, 0);
    EXPECT_EQ(s.clockseconds, 0);
    EXPECT_TRUE(sink.entries.empty());
}

}  // namespace
