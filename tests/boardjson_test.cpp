// The records as JSON.
#include "core/boardjson.h"

#include <gtest/gtest.h>

TEST(BoardJson, RecordTextIsEscapedAsReceived) {
    EXPECT_EQ(lw::recordJson(3, "1:02:03 AM", "1/2/2003", std::string("a\"\\\x7f\xff\x00z", 7),
                             "2003-01-02T01:02:03+01:00"),
              "{\"seq\":3,\"time\":\"1:02:03 AM\",\"date\":\"1/2/2003\",\"text\":"
              "\"a\\\"\\\\\\u007f\\u00ff\\u0000z\",\"at\":\"2003-01-02T01:02:03+01:00\"}");
}
