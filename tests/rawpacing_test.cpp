#include "core/rawpacing.h"

#include <gtest/gtest.h>

namespace {

TEST(RawPacing, IntervalFollowsTheBacklogHalvesToEven) {
    const std::vector<std::pair<std::size_t, int>> cases = {{1, 750}, {2, 375}, {3, 250}, {4, 188},
                                                            {8, 94},  {10, 75}, {12, 62}, {20, 38},
                                                            {40, 19}, {41, 4},  {150, 4}};
    for (const auto& [len, ms] : cases) EXPECT_EQ(lw::drainInterval(len), ms) << len;
    EXPECT_EQ(lw::drainChunk(40), 2u);
    EXPECT_EQ(lw::drainChunk(41), 3u);
}

TEST(RawPacing, TickDropsLongBacklogsAndMovesTwoOrThree) {
    lw::RawPacer p;
    p.append(std::string(151, 'a'));
    p.beginTick();
    EXPECT_TRUE(p.newdata.empty());
    EXPECT_EQ(p.finishTick(), "");
    EXPECT_EQ(p.interval, 80);  // no backlog: the interval stays
    p.append(std::string(150, 'b'));
    p.beginTick();
    EXPECT_EQ(p.finishTick(), "bbb");
    EXPECT_EQ(p.newdata.size(), 147u);
    p.newdata = "x";
    EXPECT_EQ(p.finishTick(), "x");
    EXPECT_EQ(p.interval, 750);
}

TEST(RawPacing, TrimKeepsTheLast921) {
    std::string t(920, 'a');
    EXPECT_FALSE(lw::trimShown(t));
    t += "bcdef";
    EXPECT_TRUE(lw::trimShown(t));
    EXPECT_EQ(t.size(), 921u);
    EXPECT_EQ(t.substr(916), "bcdef");
    EXPECT_FALSE(lw::trimShown(t));
}

TEST(RawPacing, EveryByteShowsAsOneCharacterAndComesBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::u32string shown = lw::displayFromBytes(all);
    ASSERT_EQ(shown.size(), 256u);
    for (char32_t c : shown) {
        EXPECT_FALSE(c == U'\r' || c == U'\n' || c == 0 || (c >= 0x80 && c < 0xA0))
            << static_cast<unsigned>(c);
    }
    EXPECT_EQ(lw::bytesFromDisplay(shown), all);
    EXPECT_EQ(lw::bytesFromDisplay(U"A\u20ac"), "A?");
}

}  // namespace
