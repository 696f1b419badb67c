// The board and its records as JSON lines.
#include "core/boardjson.h"

#include <gtest/gtest.h>

#include "core/unitboard.h"

TEST(BoardJson, ThePortStateClosesTheReplaysLine) {
    lw::UnitBoard b;
    const std::string line = lw::boardJson(0, 0, b, 0);
    const std::string withPort = lw::boardJson(0, 0, b, 0, "lost");
    ASSERT_TRUE(line.ends_with("]}\n"));
    EXPECT_EQ(withPort, line.substr(0, line.size() - 2) + ",\"port\":\"lost\"}\n");
}

TEST(BoardJson, RecordTextIsEscapedAsReceived) {
    EXPECT_EQ(lw::recordJson(3, "1:02:03 AM", "1/2/2003", std::string("a\"\\\x7f\xff\x00z", 7)),
              "{\"seq\":3,\"time\":\"1:02:03 AM\",\"date\":\"1/2/2003\",\"text\":"
              "\"a\\\"\\\\\\u007f\\u00ff\\u0000z\"}");
}
