#include "core/reports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fakes.h"
#include "support/files.h"

#ifdef __linux__
#include <sys/resource.h>

#include <csignal>
#endif

namespace fs = std::filesystem;
using lw::ReportKind;

namespace {

const std::string R = std::string(lw::kRule) + "\r\n";

struct LayoutCase {
    ReportKind kind;
    std::string expected;
};

TEST(RecordLayouts, EveryKindByteForByte) {
    lw::ReportPieces p;
    p.name = "3";
    p.clock = "0:12:34";
    p.cause = " PRESENCE ";
    p.buffer = "3ih\r\x01";
    p.raw = "0iq\xff";
    p.text = "typed";
    const std::string T = "10:15:07 PM", D = "3/1/2002";
    const std::vector<LayoutCase> cases = {
        {ReportKind::RawBlock, "RAW COMM DATA LOG 10:15:07 PM   3/1/2002\r\n0iq\xff\r\n" + R},
        {ReportKind::PanicStop, "!!!!!!!!!!! PANIC STOP DETECTED 10:15:07 PM  3/1/2002\r\n" +
                                    std::string(52, '!') + "\r\n"},
        {ReportKind::Noise, "***NOISE*** 10:15:07 PM   3/1/2002\r\n3ih\r\x01\r\n" + R},
        {ReportKind::Started, "KX-40 #3 HAS BEEN STARTED 10:15:07 PM   3/1/2002\r\n" + R},
        {ReportKind::StartedInterlock,
         "KX-40 #3 HAS BEEN STARTED IN INTERLOCK 10:15:07 PM   3/1/2002\r\n3ih\r\x01\r\n" + R},
        {ReportKind::FeatureEnded, "KX-40 #3 FEATURE ENDED 10:15:07 PM   3/1/2002\r\n" + R},
        {ReportKind::FeatureEndedInterlock,
         "KX-40 #3 FEATURE ENDED IN INTERLOCK 10:15:07 PM   3/1/2002\r\n" + R},
        {ReportKind::StoppedReady, "KX-40 #3 STOPPED AND READY 10:15:07 PM   3/1/2002\r\n" + R},
        {ReportKind::StoppedReadyInterlock,
         "KX-40 #3 STOPPED AND READY IN INTERLOCK 10:15:07 PM   3/1/2002\r\n" + R},
        {ReportKind::Failed,
         "KX-40 #3 !!!!!*   FAILED BECAUSE OF PRESENCE   *!!!!! 0:12:34 INTO THE SHOW, AT  "
         "10:15:07 PM  ON THE 3/1/2002\r\n" +
             R},
        {ReportKind::FailedInterlock,
         "KX-40 #3 !!!!!*  FAILED IN INTERLOCK BECAUSE OF  PRESENCE   *!!!!! 0:12:34 INTO THE "
         "SHOW, AT 10:15:07 PM  ON THE  3/1/2002\r\n" +
             R},
        {ReportKind::QuickSave, "COMM WINDOW QUICK SAVE 10:15:07 PM  3/1/2002\r\ntyped\r\n" + R},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lw::formatRecord(c.kind, T, D, p), c.expected) << static_cast<int>(c.kind);
    }
    EXPECT_EQ(lw::kRule.size(), 56u);
    EXPECT_EQ(lw::kBangs.size(), 52u);
    // An empty quick save: header, an empty line, the rule.
    EXPECT_EQ(lw::formatRecord(ReportKind::QuickSave, T, D, {}),
              "COMM WINDOW QUICK SAVE 10:15:07 PM  3/1/2002\r\n\r\n" + R);
}

TEST(ReportGating, EachKindFollowsItsOption) {
    auto allowed = [](ReportKind k, int raw, int noise, int act) {
        return lw::reportAllowed(k, lw::LogOptions{raw, noise, act, "p"});
    };
    EXPECT_TRUE(allowed(ReportKind::RawBlock, 1, 0, 0));
    EXPECT_FALSE(allowed(ReportKind::RawBlock, 0, 1, 1));
    EXPECT_TRUE(allowed(ReportKind::Noise, 0, 1, 0));
    EXPECT_FALSE(allowed(ReportKind::Noise, 1, 2, 1));
    EXPECT_TRUE(allowed(ReportKind::PanicStop, 0, 0, 1));
    EXPECT_FALSE(allowed(ReportKind::PanicStop, 1, 1, 0));
    EXPECT_TRUE(allowed(ReportKind::FailedInterlock, 0, 0, 1));
    EXPECT_FALSE(allowed(ReportKind::Started, 1, 1, -1));
    EXPECT_TRUE(allowed(ReportKind::QuickSave, 0, 0, 0));
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("lw-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(LogFile, CreatesThenAppendsAndFollowsThePathOfEachCall) {
    lw::FileLogSink sink;
    lw::LogOptions opt{0, 0, 1, (dir / "a.txt").string()};
    lw::EventReports reports(sink, [&] { return opt; });
    lw::ReportPieces p;
    p.name = "7";
    reports.report(ReportKind::Started, "t1", "d1", p);
    reports.report(ReportKind::FeatureEnded, "t2", "d2", p);
    opt.logpath = (dir / "b.txt").string();
    reports.report(ReportKind::StoppedReady, "t3", "d3", p);
    EXPECT_EQ(lwtest::readFile(dir / "a.txt"), "KX-40 #7 HAS BEEN STARTED t1   d1\r\n" + R +
                                        "KX-40 #7 FEATURE ENDED t2   d2\r\n" + R);
    EXPECT_EQ(lwtest::readFile(dir / "b.txt"), "KX-40 #7 STOPPED AND READY t3   d3\r\n" + R);
    EXPECT_EQ(reports.written(), 3u);
}

TEST_F(LogFile, UnwritablePathsFailAndAreToldOncePerStreak) {
    lw::FileLogSink sink;
    lw::LogOptions opt{0, 0, 1, (dir / "missing" / "log.txt").string()};
    lw::EventReports reports(sink, [&] { return opt; });
    std::vector<lw::LogFailure> told;
    reports.setFailureHandler([&](const lw::LogFailure& f) { told.push_back(f); });

    for (int i = 0; i < 3; ++i) reports.report(ReportKind::PanicStop, "t", "d", {});
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].path, opt.logpath);
    EXPECT_FALSE(told[0].error.empty());
    EXPECT_TRUE(reports.failing());
    EXPECT_EQ(reports.dropped(), 3u);

    opt.logpath = dir.string();  // a folder is no file either
    reports.report(ReportKind::PanicStop, "t", "d", {});
    EXPECT_EQ(told.size(), 1u);

    opt.logpath = (dir / "ok.txt").string();
    reports.report(ReportKind::PanicStop, "t", "d", {});
    EXPECT_FALSE(reports.failing());
    opt.logpath = (dir / "missing" / "again.txt").string();
    reports.report(ReportKind::PanicStop, "t", "d", {});
    EXPECT_EQ(told.size(), 2u);  // a new streak is told again
    EXPECT_EQ(reports.written(), 1u);
}

TEST_F(LogFile, QuickSaveIgnoresTheOptionsAndReportsItsOutcome) {
    lw::FileLogSink sink;
    lw::LogOptions opt{0, 0, 0, (dir / "q.txt").string()};
    lw::EventReports reports(sink, [&] { return opt; });
    EXPECT_TRUE(reports.quickSave("t", "d", "0iq").ok);
    EXPECT_EQ(lwtest::readFile(dir / "q.txt"), "COMM WINDOW QUICK SAVE t  d\r\n0iq\r\n" + R);
    opt.logpath = (dir / "no" / "q.txt").string();
    EXPECT_FALSE(reports.quickSave("t", "d", "x").ok);
}

#ifdef __linux__
TEST_F(LogFile, FullDeviceDropsTheRecord) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    lw::FileLogSink sink;
    const auto r = sink.append("/dev/full", "record\r\n");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(fs::exists("/dev/full"));
}

TEST_F(LogFile, RecordThatDoesNotFitIsTakenBackWhole) {
    const fs::path p = dir / "small.txt";
    ASSERT_TRUE(lwtest::writeFile(p, "earlier\r\n"));
    // Emulate a disk that fills up half way through the record.
    auto old = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
    lw::FileLogSink sink;
    const auto r = sink.append(p.string(), std::string(500, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(lwtest::readFile(p), "earlier\r\n");
}
#endif

}  // namespace
