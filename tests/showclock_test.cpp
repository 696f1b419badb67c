#include "core/showclock.h"

#include <gtest/gtest.h>

#include "core/timesource.h"
#include "core/timetext.h"

namespace {

lw::UnitBoard runningAt(std::int64_t h, int m, int s) {
    lw::UnitBoard b;
    auto& slot = b.slot(1);
    slot.clockrunning = true;
    slot.clockhours = h;
    slot.clockminutes = m;
    slot.clockseconds = s;
    return b;
}

TEST(ShowClock, RollsOverMinutesHoursAndPastADay) {
    struct Case {
        std::int64_t h;
        int m, s;
        const char* next;
    };
    for (const Case& c :
         {Case{0, 0, 59, "0:01:00"}, Case{0, 59, 59, "1:00:00"}, Case{23, 59, 59, "24:00:00"},
          Case{99, 5, 8, "99:05:09"}, Case{0, 0, 0, "0:00:01"}}) {
        auto b = runningAt(c.h, c.m, c.s);
        ASSERT_TRUE(lw::clockTick(b, "01"));
        EXPECT_EQ(b.slot(1).clock, c.next);
    }
}

TEST(ShowClock, CountsEachChangeOfSecondsOnce) {
    auto b = runningAt(0, 0, 0);
    b.slot(2).clock = "0:07:00";  // stopped clocks keep their text
    lw::clockTick(b, "07");
    lw::clockTick(b, "07");
    lw::clockTick(b, "07");
    EXPECT_EQ(b.slot(1).clock, "0:00:01");
    // A thread blocked for three seconds: the tick sees one change only.
    lw::clockTick(b, "10");
    EXPECT_EQ(b.slot(1).clock, "0:00:02");
    EXPECT_EQ(b.slot(2).clock, "0:07:00");
    EXPECT_EQ(b.lastsecond, "10");
}

TEST(ShowClock, TheTickThatSeesTheNextSecond) {
    using std::chrono::milliseconds;
    const milliseconds tick{100};
    EXPECT_EQ(lw::ticksUntilNextSecond(std::nullopt, tick), 1);  // unknown: look every tick
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{0}, tick), 1);  // already turned
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{1}, tick), 1);
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{100}, tick), 1);  // lands on the turn
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{101}, tick), 2);
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{999}, tick), 10);
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{1000}, tick), 10);
    EXPECT_EQ(lw::ticksUntilNextSecond(milliseconds{500}, milliseconds{0}), 1);
}

TEST(ShowClock, Operations) {
    lw::UnitSlot s;
    s.clock = "0:03:04";
    s.clockminutes = 3;
    s.clockseconds = 4;
    lw::clockReset(s);
    EXPECT_EQ(s.clock, "0:03:04");
    EXPECT_EQ(s.clockminutes, 0);
    EXPECT_FALSE(s.clockrunning);
    lw::clockStart(s);
    EXPECT_EQ(s.clock, "0:00:00");
    s.clock = "0:00:09";
    lw::clockStart(s);  // already running: text kept
    EXPECT_EQ(s.clock, "0:00:09");
    lw::clockStop(s);
    EXPECT_FALSE(s.clockrunning);
    EXPECT_EQ(s.clock, "0:00:09");
    lw::clockResume(s);
    EXPECT_TRUE(s.clockrunning);
    EXPECT_EQ(s.clock, "0:00:09");
}

TEST(ShowClock, SecondsAreTakenAfterTheSecondColon) {
    EXPECT_EQ(lw::secondsOfTime("9:05:07"), "07");
    EXPECT_EQ(lw::secondsOfTime("21:05:07"), "07");
    EXPECT_EQ(lw::secondsOfTime("10:15:07 PM"), "07");
    EXPECT_EQ(lw::secondsOfTime("1:02:03 AM"), "03");
    EXPECT_EQ(lw::secondsOfTime("12"), "");
}

TEST(ShowClock, BlinkPhaseAlternates) {
    lw::UnitBoard b;
    EXPECT_FALSE(b.blinkphase);
    lw::blinkTick(b);
    EXPECT_TRUE(b.blinkphase);
    lw::blinkTick(b);
    EXPECT_FALSE(b.blinkphase);
}

TEST(TimeText, RegionalFormatsAndCalendarArithmetic) {
    const lw::CivilTime t{2002, 3, 1, 22, 15, 7, 0};
    EXPECT_EQ(lw::timeText(t), "10:15:07 PM");
    EXPECT_EQ(lw::dateText(t), "3/1/2002");
    EXPECT_EQ(lw::timeText({2002, 3, 1, 0, 5, 9, 0}), "12:05:09 AM");
    EXPECT_EQ(lw::timeText({2002, 3, 1, 12, 0, 0, 0}), "12:00:00 PM");
    const auto later = lw::addMilliseconds({2000, 2, 28, 23, 59, 59, 500}, 86'400'000 + 700);
    EXPECT_EQ(later, (lw::CivilTime{2000, 3, 1, 0, 0, 0, 200}));  // leap year
    EXPECT_FALSE(lw::parseIsoLocal("2001-02-29T00:00:00"));
    EXPECT_FALSE(lw::parseIsoLocal("2002-03-01 22:15:07"));
    EXPECT_FALSE(lw::parseIsoLocal("2002-03-01T24:00:00"));
    EXPECT_EQ(lw::parseIsoLocal("2002-03-01T22:15:07"), t);
}

}  // namespace
