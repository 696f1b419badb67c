#include "core/masterdetection.h"

#include <gtest/gtest.h>

#include "support/probeports.h"

namespace {

using lwtest::ProbePorts;

lw::MasterDetection::Outcome detect(ProbePorts& p, int* slowHits = nullptr) {
    lw::MasterDetection d;
    d.scanports(p);
    p.log.clear();
    return d.probemaster(
        p, [] { return true; },
        [&] {
            if (slowHits) ++*slowHits;
        });
}

TEST(Detection, HitsAndTheirTieBreak) {
    {
        ProbePorts p;
        p.opens = {{2, true}, {4, true}};
        p.heard[{2, "4800"}] = "0iuT1iu";
        const auto r = detect(p);
        EXPECT_EQ(r.baud, "4800");
        EXPECT_EQ(r.port, 2);
        EXPECT_EQ(p.log, (std::vector<std::string>{"2@4800", "4@4800", "2@1200", "4@1200"}));
    }
    {
        ProbePorts p;
        p.opens = {{1, true}, {3, true}};
        p.heard[{1, "4800"}] = "T";
        p.heard[{3, "1200"}] = "xxTxx";
        int slow = 0;
        const auto r = detect(p, &slow);
        EXPECT_EQ(r.baud, "1200");
        EXPECT_EQ(r.port, 3);
        EXPECT_EQ(slow, 1);
    }
    {
        ProbePorts p;
        p.opens = {{2, true}, {5, true}};
        p.heard[{2, "4800"}] = "T";
        p.heard[{5, "4800"}] = "T";
        EXPECT_EQ(detect(p).port, 5);
    }
}

TEST(Detection, NothingHeardOrNoPorts) {
    ProbePorts p;
    p.opens = {{1, true}};
    p.heard[{1, "4800"}] = "tttt0iu";  // lower case is no master
    auto r = detect(p);
    EXPECT_EQ(r.port, 0);
    EXPECT_EQ(r.baud, "");
    ProbePorts none;
    bool dwelt = false;
    lw::MasterDetection d;
    d.scanports(none);
    r = d.probemaster(none, [&] { return dwelt = true; });
    EXPECT_FALSE(dwelt);
    EXPECT_EQ(r.port, 0);
}

TEST(Detection, MarksStayAndAVanishedPortGivesNoHit) {
    ProbePorts p;
    p.opens = {{6, true}};
    lw::MasterDetection d;
    d.scanports(p);
    p.opens[6] = false;  // taken by another program since
    p.opens[7] = true;
    d.scanports(p);
    EXPECT_EQ(d.portok[6], 1);
    EXPECT_EQ(d.portok[7], 1);
    p.heard[{7, "1200"}] = "T";
    const auto r = d.probemaster(p, [] { return true; });
    EXPECT_EQ(r.port, 7);
    EXPECT_FALSE(p.open);
}

TEST(Detection, CancelledDwellClosesThePortAndStops) {
    ProbePorts p;
    p.opens = {{1, true}, {2, true}};
    lw::MasterDetection d;
    d.scanports(p);
    p.log.clear();
    int dwells = 0;
    const auto r = d.probemaster(p, [&] { return ++dwells < 2; });
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(dwells, 2);
    EXPECT_FALSE(p.open);
    EXPECT_EQ(p.log.size(), 2u);
}

TEST(Detection, ProgressBarCyclesAndNeverShows100) {
    int progbar = 0, bar = 0;
    std::vector<int> shown;
    for (int i = 0; i < 80; ++i) {
        lw::progressTick(progbar, bar);
        shown.push_back(bar);
        ASSERT_LT(bar, 100);
    }
    EXPECT_EQ(shown[0], 2);
    EXPECT_EQ(shown[48], 98);
    EXPECT_EQ(shown[49], 98);  // 100 not shown
    EXPECT_EQ(shown[50], 98);  // 102 not shown
    EXPECT_EQ(shown[51], 85);
    EXPECT_EQ(shown[58], 99);
    EXPECT_EQ(shown[59], 99);  // 101
    EXPECT_EQ(shown[60], 85);
}

}  // namespace
