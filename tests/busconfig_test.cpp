#include "core/busconfig.h"

#include <gtest/gtest.h>

#include <map>

#include "support/probeports.h"

namespace {

TEST(BusConfig, BaudFollowsTheVersionExactly) {
    EXPECT_EQ(lw::baudForVersion("HUBQV-2"), "4800");
    EXPECT_EQ(lw::baudForVersion("KX40QV-2"), "4800");
    for (const char* v : {"HUB8", "KX40JV-11", "HUB7", "KX40JV-10", "hubqv-2", " HUBQV-2", ""}) {
        EXPECT_EQ(lw::baudForVersion(v), "1200") << v;
    }
}

TEST(BusConfig, PortChoiceReadsLikeANumber) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"1", 1},    {"  3", 3},       {"1 0", 10},        {"3abc", 3},    {"COM3", 0},
        {"", 0},     {"2.5", 2},       {"3.5", 4},         {"\t1\n2", 12}, {"&H10", 16},
        {"&hF", 15}, {"&O17", 15},     {"1e1", 10},        {"1D1", 10},    {"-2", -2},
        {"+7", 7},   {"1e", 1},        {"&HFFFF", -1},     {"4.4999", 4},  {".5", 0},
        {"1.5", 2},  {"32767", 32767}, {"-32768", -32768}, {"&H", 0}};
    for (const auto& [text, port] : cases) {
        const auto n = lw::portNumberFromText(text);
        ASSERT_TRUE(n.has_value()) << text;
        EXPECT_EQ(*n, port) << "'" << text << "'";
    }
    // Beyond 16 bits: no port at all instead of the old overflow.
    for (const char* text : {"32768", "-32769", "1e10", "&HFFFFF", "9999999999", "1e999"}) {
        EXPECT_FALSE(lw::portNumberFromText(text).has_value()) << text;
    }
}

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
