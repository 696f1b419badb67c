#include "tools/replay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "core/boardjson.h"
#include "support/fakes.h"
#include "support/files.h"
#include "tools/capturefile.h"

namespace {

using lwtest::slurp;

lw::Capture parseOk(const std::string& text) {
    auto r = lw::parseCapture(text);
    if (!r.ok) {
        ADD_FAILURE() << "line " << r.line << ": " << r.error;
        return {};
    }
    return std::move(r.value);
}

const std::string kHead = "LINEWARDEN-CAPTURE 1\nstart 2002-03-01T22:15:07\n";

TEST(CaptureFile, ParsesHeadersCommentsAndCrLf) {
    const auto cap = parseOk(
        "# made by hand\r\n\r\nLINEWARDEN-CAPTURE 1\r\nstart 2002-03-01T22:15:07\r\n"
        "version  KX40 JV \r\nbaud 1200\r\n0 30697A\r\n# between\r\n800 ff00\r\n800\tAB\r\n");
    EXPECT_EQ(cap.start, (lw::CivilTime{2002, 3, 1, 22, 15, 7, 0}));
    EXPECT_EQ(cap.version, " KX40 JV ");
    EXPECT_EQ(cap.baud, 1200);
    ASSERT_EQ(cap.chunks.size(), 3u);
    EXPECT_EQ(cap.chunks[0].bytes, "0iz");
    EXPECT_EQ(cap.chunks[1].bytes, std::string("\xff\x00", 2));
    EXPECT_EQ(cap.chunks[2].offset, 800);
}

TEST(CaptureFile, ErrorsNameTheirLine) {
    struct Bad {
        std::string text;
        int line;
    };
    for (const Bad& b : {
             Bad{"", 1},
             Bad{"# only a comment\n", 2},
             Bad{"LINEWARDEN-CAPTURE 2\n", 1},
             Bad{"LINEWARDEN-CAPTURE 1\n0 30\n", 2},
             Bad{"LINEWARDEN-CAPTURE 1\nbaud 4800\n", 3},
             Bad{kHead + "start 2002-03-01T22:15:07\n", 3},
             Bad{"LINEWARDEN-CAPTURE 1\nstart 2002-02-30T00:00:00\n", 2},
             Bad{kHead + "10 303\n", 3},
             Bad{kHead + "10 30zz\n", 3},
             Bad{kHead + "10 \n", 3},
             Bad{kHead + "-5 30\n", 3},
             Bad{kHead + "900 30\n# fine\n800 30\n", 5},
             Bad{kHead + "0 30\nversion X\n", 4},
             Bad{kHead + "baud fast\n", 3},
             Bad{kHead + "0 30 31\n", 3},
             Bad{kHead + "hello\n", 3},
         }) {
        auto r = lw::parseCapture(b.text);
        ASSERT_FALSE(r.ok) << b.text;
        EXPECT_EQ(r.line, b.line) << b.text;
    }
}

TEST(CaptureFile, WriterOutputReadsBack) {
    std::string text = lw::headerText({2002, 3, 1, 9, 5, 7, 0}, "HUB7", 1200);
    text += lw::dataLine(0, std::string("\x00\x7f\x80P", 4));
    text += lw::dataLine(1234, "0iq");
    const auto cap = parseOk(text);
    EXPECT_EQ(cap.start, (lw::CivilTime{2002, 3, 1, 9, 5, 7, 0}));
    EXPECT_EQ(cap.version, "HUB7");
    EXPECT_EQ(cap.chunks[0].bytes, std::string("\x00\x7f\x80P", 4));
    EXPECT_EQ(cap.chunks[1].offset, 1234);
}

TEST(CaptureFile, StartYearAndVersionSurviveAWrite) {
    for (const int year : {0, 7, 999, 1000, 9999}) {
        const lw::CivilTime start{year, 12, 31, 23, 59, 59, 0};
        const auto cap = parseOk(lw::headerText(start, std::nullopt, std::nullopt));
        EXPECT_EQ(cap.start, start) << year;
    }
    // A version with a line break cannot stand on its header line: the parser
    // and the recorder (which asks versionProblem) refuse it alike.
    for (const std::string v : {"HUB7\r", "HUB\r7", "HUB7\n"}) {
        EXPECT_TRUE(lw::versionProblem(v)) << v;
    }
    for (const std::string v : {"HUB7", "", " KX40 JV\t"}) {
        EXPECT_FALSE(lw::versionProblem(v)) << v;
        EXPECT_EQ(parseOk(lw::headerText({}, v, std::nullopt)).version, v);
    }
    auto r = lw::parseCapture(kHead + "version HUB7\r\r\n");
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.line, 3);
}

TEST(CaptureFile, OffsetsStayWithinTheTimelineBound) {
    const std::string max = std::to_string(lw::kMaxTimelineMs);
    EXPECT_EQ(parseOk(kHead + "0 30\n" + max + " 30\n").lastOffset(), lw::kMaxTimelineMs);
    for (const std::string& far :
         {std::to_string(lw::kMaxTimelineMs + 1), std::string("1000000000000000"),
          std::string("9223372036854775807"), std::string("99999999999999999999")}) {
        auto r = lw::parseCapture(kHead + "0 30\n" + far + " 30\n");
        ASSERT_FALSE(r.ok) << far;
        EXPECT_EQ(r.line, 4) << far;
    }
}

TEST(Replay, EndOfTheRun) {
    auto cap = parseOk(kHead + "0 30\n1601 30\n");
    EXPECT_EQ(lw::replayEnd(cap, std::nullopt), 2400);
    EXPECT_EQ(lw::replayEnd(cap, 801), 1600);
    EXPECT_EQ(lw::replayEnd(cap, 0), 0);
    EXPECT_EQ(lw::replayEnd(parseOk(kHead), std::nullopt), 800);
    EXPECT_EQ(lw::replayEnd(parseOk(kHead + "800 30\n"), std::nullopt), 800);
    // Rounding up never passes the bound, nor overflows near the top of the range.
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    for (const std::int64_t until : {lw::kMaxTimelineMs - 1, lw::kMaxTimelineMs, top - 799, top}) {
        EXPECT_EQ(lw::replayEnd(cap, until), lw::kMaxTimelineMs) << until;
    }
    const std::string max = std::to_string(lw::kMaxTimelineMs);
    EXPECT_EQ(lw::replayEnd(parseOk(kHead + max + " 30\n"), std::nullopt), lw::kMaxTimelineMs);
}

std::vector<std::string> boardLines(const lw::Capture& cap, const lw::ReplayOptions& opt,
                                    lwtest::MemorySink& sink) {
    std::ostringstream out;
    lw::runReplay(cap, opt, sink, &out);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

TEST(Replay, ReadsAtMostOneReceiveBufferPerTick) {
    auto cap = parseOk(kHead + "0 " + std::string(6000, '7') + "\n");  // 3000 bytes of 'w'
    lw::ReplayOptions opt;
    opt.logPath = "log";
    opt.raw = true;
    lwtest::MemorySink sink;
    const auto lines = boardLines(cap, opt, sink);
    EXPECT_EQ(lines.size(), 2u);  // load and one decoder tick: the run ends at 800
    opt.untilMs = 2400;
    sink.entries.clear();
    boardLines(cap, opt, sink);
    ASSERT_EQ(sink.entries.size(), 3u);
    const auto rawLen = [](const std::string& rec) {
        const auto a = rec.find("\r\n") + 2;
        return rec.find("\r\n", a) - a;
    };
    EXPECT_EQ(rawLen(sink.entries[0].record), 1024u);
    EXPECT_EQ(rawLen(sink.entries[1].record), 1024u);
    EXPECT_EQ(rawLen(sink.entries[2].record), 952u);
}

TEST(Replay, CountsTheBytesLeftUnread) {
    // 3000 bytes at 0, two at 1000 and two more after the run.
    auto cap = parseOk(kHead + "0 " + std::string(6000, '7') + "\n1000 3030\n9000 3030\n");
    lw::ReplayOptions opt;
    lwtest::MemorySink sink;
    struct Case {
        std::int64_t until;
        std::uint64_t left;
    };
    for (const Case c : {Case{800, 1976}, Case{1600, 954}, Case{2400, 0}, Case{8000, 0}}) {
        opt.untilMs = c.until;
        EXPECT_EQ(lw::runReplay(cap, opt, sink, nullptr).undecodedBytes, c.left) << c.until;
    }
}

TEST(Replay, TimelineOrdersClockBlinkThenDecoder) {
    // Unit 1 runs a show, then fails; at t = 8800 clock, blink and decoder coincide.
    auto cap = parseOk(kHead + "0 30697573737373\n8000 306968737373\n");
    lw::ReplayOptions opt;
    opt.untilMs = 9600;
    lwtest::MemorySink sink;
    const auto lines = boardLines(cap, opt, sink);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_TRUE(lines[0].starts_with("{\"tick\":0,\"t\":0,\"remote\":false"));
    EXPECT_NE(lines[1].find("{\"name\":\"1\",\"status\":\"SHOW RUN\",\"clock\":\" \""),
              std::string::npos);
    // Seconds change at 1000, 2000, ... 8000: eight seconds by the failure.
    EXPECT_NE(lines[10].find("\"status\":\"HELP ME\",\"clock\":\"0:00:08\""), std::string::npos);
    EXPECT_NE(lines[10].find("\"beeps\":1"), std::string::npos);
    // The sixteenth blink at 8800 comes before the decoder: phase off, green panel.
    EXPECT_TRUE(lines[11].starts_with("{\"tick\":11,\"t\":8800"));
    EXPECT_NE(lines[11].find("\"panel\":\"#00ff00\",\"lamp\":\"#ff0000\""), std::string::npos);
    EXPECT_NE(lines[12].find("\"panel\":\"#ff0000\",\"lamp\":\"#00ff00\""), std::string::npos);
}

TEST(Replay, BoardJsonEscapesAndReportsBeeps) {
    lw::UnitBoard b;
    b.slot(1).name = std::string("a\"b\\\xe9\x01", 6);
    lw::BoardView view;
    view.units[0].unit = 1;
    const std::string line = lw::boardJson(3, 2400, b, 2, view);
    EXPECT_TRUE(line.starts_with(
        "{\"tick\":3,\"t\":2400,\"remote\":false,\"noise\":false,\"beeps\":2,\"units\":[{\"name\":"
        "\"a\\\"b\\\\\\u00e9\\u0001\",\"status\":\" \",\"clock\":\" \",\"panel\":\"#000000\","
        "\"lamp\":\"#000000\",\"unit\":1,\"state\":\"absent\""));
    EXPECT_TRUE(line.ends_with(
        "],\"port\":\"closed\",\"port_since\":\"2000-01-01T00:00:00+00:00\","
        "\"at\":\"2000-01-01T00:00:00+00:00\"}\n"));
}

TEST(Replay, SampleFailureCaptureMatchesTheExpectedLog) {
    const std::filesystem::path src = LW_SOURCE_DIR;
    auto cap = parseOk(slurp(src / "samples" / "failure.cap"));
    lw::ReplayOptions opt;
    opt.logPath = "log";
    opt.activity = true;
    lwtest::MemorySink sink;
    const auto stats = lw::runReplay(cap, opt, sink, nullptr);
    EXPECT_EQ(sink.all(), slurp(src / "tests" / "data" / "failure-activity.log"));
    EXPECT_GT(stats.beeps, 0u);
    EXPECT_EQ(stats.recordsDropped, 0u);
}

TEST(Replay, NamesFileIsReadNotWritten) {
    const auto dir = std::filesystem::temp_directory_path() / "lw-replay-names";
    std::filesystem::create_directories(dir);
    const auto names = dir / "remlabel.dat";
    std::ofstream(names, std::ios::binary) << "\"fileok\",\"Big Screen\"\r\n";
    auto cap = parseOk(kHead + "0 30697173737373\n");
    lw::ReplayOptions opt;
    opt.logPath = "log";
    opt.activity = true;
    opt.namesPath = names.string();
    lwtest::MemorySink sink;
    const auto lines = boardLines(cap, opt, sink);
    EXPECT_NE(lines[0].find("\"name\":\"Big Screen\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"name\":\"2\""), std::string::npos);
    ASSERT_EQ(sink.entries.size(), 1u);
    EXPECT_TRUE(
        sink.entries[0].record.starts_with("KX-40 #Big Screen HAS BEEN STARTED 10:15:07 PM"));
    EXPECT_EQ(slurp(names), "\"fileok\",\"Big Screen\"\r\n");
    opt.namesPath = (dir / "absent.dat").string();
    boardLines(cap, opt, sink);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent.dat"));
    std::filesystem::remove_all(dir);
}

}  // namespace
