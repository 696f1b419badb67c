// The service's ring of recent records.
#include "service/recordring.h"

#include <gtest/gtest.h>

#include <vector>

using lw::service::RecordRing;

namespace {

lw::RecordEvent event(std::string_view text) {
    lw::RecordEvent e;
    e.kind = lw::ReportKind::Started;
    e.timeText = "10:15:07 PM";
    e.dateText = "3/1/2002";
    e.text = text;
    e.written = true;
    return e;
}

}  // namespace

TEST(RecordRing, NumbersInOrderAndAnswersWhatCameAfter) {
    RecordRing ring(5);
    EXPECT_EQ(ring.jsonAfter(0, 500), "[]");
    for (int i = 1; i <= 8; ++i) ring.push(event("record " + std::to_string(i) + "\r\n"));
    EXPECT_EQ(ring.lastSeq(), 8u);
    EXPECT_EQ(ring.size(), 5u);  // the oldest three went

    auto seqs = [&](std::uint64_t after, std::size_t max) {
        std::vector<std::uint64_t> out;
        for (const auto* r : ring.after(after, max)) out.push_back(r->seq);
        return out;
    };
    EXPECT_EQ(seqs(0, 500), (std::vector<std::uint64_t>{4, 5, 6, 7, 8}));
    EXPECT_EQ(seqs(5, 500), (std::vector<std::uint64_t>{6, 7, 8}));
    EXPECT_EQ(seqs(0, 2), (std::vector<std::uint64_t>{7, 8}));  // the most recent ones
    EXPECT_EQ(seqs(6, 1), (std::vector<std::uint64_t>{8}));
    EXPECT_TRUE(seqs(8, 500).empty());
    EXPECT_TRUE(seqs(99, 500).empty());
    EXPECT_TRUE(seqs(0, 0).empty());
    EXPECT_EQ(ring.jsonAfter(7, 500),
              "[{\"seq\":8,\"time\":\"10:15:07 PM\",\"date\":\"3/1/2002\",\"text\":\"record "
              "8\\u000d\\u000a\",\"at\":\"\"}]");
}
