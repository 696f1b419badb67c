#include "core/bussettings.h"

#include <gtest/gtest.h>

#include "core/busprotocol.h"

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

}  // namespace
