// The activity log reader and the night report, against the monitor's own
// writer and replay: what the monitor writes is what the report reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "core/activitylog.h"
#include "core/nightreport.h"
#include "tools/capturefile.h"
#include "tools/replay.h"
#include "support/files.h"

namespace fs = std::filesystem;
using lw::ReportKind;

namespace {

using lwtest::readFile;

void spit(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

const fs::path kOut = fs::path(LW_TEST_OUTPUT);

// Reads a log given in pieces of `piece` bytes; the JSON of its last night.
std::string reportOf(const std::string& log, std::size_t piece = 1 << 20, bool html = false) {
    lw::NightModel model({});
    lw::ActivityLogReader reader([&](const lw::LogRecord& r) { model.add(r); });
    reader.begin("test.log");
    for (std::size_t at = 0; at < log.size(); at += piece)
        reader.feed(std::string_view(log).substr(at, piece));
    reader.end();
    const lw::NightFacts f = model.finish();
    const lw::ReportInput in{f, reader.stats(), "Test"};
    return html ? lw::renderHtml(in) : lw::renderJson(in);
}

// A show night on a generated bus: fifteen units (slot 16 never speaks), two
// shows each, frames every eight seconds; failures, a stop, an interlock
// unit, panic stops and a noisy spell.
std::string nightCapture() {
    lw::CivilTime start{2026, 12, 8, 18, 0, 0, 0};
    std::string cap = lw::headerText(start, std::string("HUBQV-2"), 4800);
    constexpr std::int64_t kEnd = 27000;  // 01:30
    auto code = [](int u, std::int64_t s) -> char {
        const bool il = u == 11;
        auto c = [&](char lower) { return il ? static_cast<char>(lower - 32) : lower; };
        for (int show = 0; show < 2; ++show) {
            const std::int64_t begin = (show ? 12600 : 1800) + u * 180;
            const std::int64_t length = 6000 + u * 120;
            const std::int64_t t = s - begin;
            if (t < 0) return show ? c('l') : c('z');
            if (show == 1 && u == 3 && t >= 2400) return t < 2480 ? 'h' : 'z';
            if (show == 1 && u == 11 && t >= 3000) return t < 3080 ? 'M' : 'Z';
            if (show == 0 && u == 14 && t >= 4000) return t < 4080 ? 'm' : 'z';
            if (show == 0 && u == 7 && t >= 1500) return 'z';
            if (t < 16) return c('q');
            if (t < length - 300) return c('u');
            if (t < length) return c('n');
        }
        return c('l');
    };
    for (std::int64_t s = 0; s <= kEnd; s += 8) {
        std::string bytes = s == 15000 ? "PK" : "";
        for (int u = 1; u <= 15; ++u) bytes += {static_cast<char>('0' + u - 1), 'i', code(u, s)};
        if (s == 20736) bytes += "PK";  // stays in the buffer: a burst
        cap += lw::dataLine(s * 1000, bytes);
        if (s >= 7200 && s < 7260) {  // a noisy minute, every tick
            for (int k = 1; k < 10; ++k) cap += lw::dataLine(s * 1000 + k * 800, "@x");
        }
    }
    return cap;
}

struct RecordRow {
    ReportKind kind;
    std::string name, time, date;
    lw::LogTime expected;  // seconds since 1970
};

}  // namespace

// Every layout the writer makes reads back with its name, time and cause,
// whatever the name holds.
TEST(ActivityLog, EveryRecordReadsBack) {
    const lw::LogTime d2002 = 11747 * lw::kDay;  // 3/1/2002
    const std::vector<RecordRow> rows = {
        {ReportKind::RawBlock, "", "10:15:07 PM", "3/1/2002", d2002 + 22 * 3600 + 907},
        {ReportKind::PanicStop, "", "12:00:00 AM", "3/1/2002", d2002},
        {ReportKind::Noise, "", "12:00:01 PM", "3/1/2002", d2002 + 12 * 3600 + 1},
        {ReportKind::QuickSave, "", "21:15:07", "03/01/2002", d2002 + 21 * 3600 + 907},
        {ReportKind::Started, "3", "1:02:03 AM", "12/31/2026", 20818 * lw::kDay + 3723},
        {ReportKind::StartedInterlock, "X HAS BEEN STARTED", "1:02:03 AM", "3/1/2002",
         d2002 + 3723},
        {ReportKind::FeatureEnded, "", "1:02:03 AM", "3/1/2002", d2002 + 3723},
        {ReportKind::FeatureEndedInterlock, "A  B ", "1:02:03 AM", "3/1/2002", d2002 + 3723},
        {ReportKind::StoppedReady, "\xC9toile", "1:02:03 AM", "3/1/2002", d2002 + 3723},
        {ReportKind::StoppedReadyInterlock, "<b>", "1:02:03 AM", "3/1/2002", d2002 + 3723},
        {ReportKind::Failed, " !!!!!* FAILED BECAUSE OF", "10:15:07 PM", "3/1/2002", d2002 + 80107},
        {ReportKind::FailedInterlock, "5", "10:15:07 PM", "3/1/2002", d2002 + 80107},
    };
    for (const RecordRow& row : rows) {
        lw::ReportPieces p;
        p.name = row.name;
        p.cause = " MOTION ";
        p.clock = "1:02:03";
        p.buffer = p.raw = p.text = "0iq";
        const std::string text = lw::formatRecord(row.kind, row.time, row.date, p);
        const std::string first = text.substr(0, text.find("\r\n"));
        const auto r = lw::parseRecordLine(first);
        ASSERT_TRUE(r) << text;
        EXPECT_EQ(r->kind, row.kind) << text;
        EXPECT_EQ(r->time, row.expected) << text;
        EXPECT_EQ(r->name, row.name) << text;
        if (row.kind == ReportKind::Failed || row.kind == ReportKind::FailedInterlock) {
            EXPECT_EQ(r->cause, "MOTION");
            EXPECT_EQ(r->showSeconds, 3723);
        }
    }
    for (const char* bad : {"KX-40 #3 HAS BEEN STARTED 13:15:07 PM   3/1/2002",
                            "KX-40 #3 HAS BEEN STARTED 10:15:07 PM   2/30/2002",
                            "KX-40 #3 WAS HERE 10:15:07 PM   3/1/2002", "***NOISE*** 10:15:07 PM",
                            "RAW COMM DATA LOGX 10:15:07 PM   3/1/2002"}) {
        EXPECT_FALSE(lw::parseRecordLine(bad)) << bad;
    }
}

// CR LF, LF and CR-only line ends, fed whole or a byte at a time, read alike.
TEST(ActivityLog, LineEndsAndPiecesDoNotMatter) {
    const std::string crlf = readFile(fs::path(LW_SOURCE_DIR) / "tests/data/failure-activity.log");
    std::string lf, cr;
    for (std::size_t i = 0; i < crlf.size(); ++i) {
        if (crlf.compare(i, 2, "\r\n") == 0) {
            lf += '\n';
            cr += '\r';
            ++i;
        } else {
            lf += crlf[i];
            cr += crlf[i];
        }
    }
    const std::string want = reportOf(crlf);
    EXPECT_NE(want.find("\"failures\": 2"), std::string::npos) << want;
    for (const std::string* log : {&lf, &cr}) {
        std::string got = reportOf(*log, 1);
        const auto bytes = got.find("\"bytes\": ");  // sizes differ by the line ends
        got.replace(bytes, got.find(',', bytes) - bytes,
                    "\"bytes\": " + std::to_string(crlf.size()));
        EXPECT_EQ(got, want);
    }
}

// Garbage lines, a CR-only stretch, a 50 MB raw block on one line and a torn
// last record: the report is made, the damage counted, the records around it read.
TEST(ActivityLog, DamagedLogIsReadAndTheDamageCounted) {
    lw::ReportPieces p;
    p.name = "1";
    p.cause = " PRESENCE ";
    p.clock = "0:20:00";
    auto rec = [&](ReportKind k, const char* t) { return lw::formatRecord(k, t, "12/8/2026", p); };
    const fs::path path = kOut / "damaged.log";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string ended = rec(ReportKind::FeatureEnded, "9:05:00 PM");
        out << rec(ReportKind::Started, "8:40:00 PM") << ended.substr(0, ended.find('\n') + 1)
            << "garbage line\r\n\r\n";  // the closing line is missing
        out << "!!!!!!!!!!! PANIC STOP DETECTED 9:10:00 PM  12/8/2026\r" << lw::kBangs << '\r';
        out << "RAW COMM DATA LOG 9:15:00 PM   12/8/2026\r\n";
        const std::string mb(1 << 20, '0');
        for (int i = 0; i < 50; ++i) out << mb;
        out << "\r\n" << lw::kRule << "\r\n";
        out << rec(ReportKind::PanicStop, "8:00:00 PM");  // dated before the one above
        out << rec(ReportKind::Failed, "9:20:00 PM") << "KX-40 #1 HAS BEEN STAR";
    }
    lw::NightModel model({});
    lw::ActivityLogReader reader([&](const lw::LogRecord& r) { model.add(r); });
    ASSERT_TRUE(lw::readLogFile(path.string(), reader).ok);
    fs::remove(path);
    const lw::LogReadStats& s = reader.stats();
    EXPECT_EQ(s.notRead, 2u);  // the garbage line and the empty one
    ASSERT_EQ(s.firstNotRead.size(), 2u);
    EXPECT_EQ(s.firstNotRead[0].lineNumber, 4u);
    EXPECT_EQ(s.unclosed, 1u);
    EXPECT_EQ(s.backwards, 1u);
    EXPECT_EQ(s.rawBytes, 50u << 20);
    ASSERT_EQ(s.torn.size(), 1u);
    EXPECT_EQ(s.torn[0].text, "KX-40 #1 HAS BEEN STAR");
    EXPECT_EQ(s.recordCount(), 6u);
    const lw::NightFacts f = model.finish();
    EXPECT_EQ(f.failureCount, 1u);
    EXPECT_EQ(f.panicCount, 2u);
    ASSERT_EQ(f.units.size(), 1u);
    EXPECT_EQ(f.units[0].longestShow,
              25 * 60);  // 8:40 to 9:05, its end read without its closing line
    const std::string html = lw::renderHtml({f, s, "Damaged"});
    spit(kOut / "damaged.html", html);
    EXPECT_NE(html.find("2 lines not read, 1 torn last record, 1 record cut short, 1 record out of "
                        "time order"),
              std::string::npos);
    EXPECT_NE(html.find("<code>KX-40 #1 HAS BEEN STAR</code>"), std::string::npos);
}

// Generated capture -> the monitor's replay -> log -> report facts, against
// the expected facts. Leaves the capture, log and page for the page test.
TEST(NightReport, GeneratedNightGivesTheExpectedFacts) {
    const auto parsed = lw::parseCapture(nightCapture());
    ASSERT_TRUE(parsed.ok) << parsed.error;
    spit(kOut / "night.cap", nightCapture());
    const fs::path names = kOut / "night-names.dat";
    spit(names,
         "\"fileok\",\"1\",\"2\",\"3\",\"4\",\"Salle \xC9toile\",\"6\",\"7\",\"8\","
         "\"<script>alert(1)</script>\",\"10\",\"11\",\"12\",\"13\",\"14\",\"15\",\"16\"\r\n");
    lw::ReplayOptions opt;
    opt.logPath = (kOut / "night.log").string();
    opt.raw = opt.noise = opt.activity = true;
    opt.namesPath = names.string();
    fs::remove(opt.logPath);
    lw::FileLogSink sink;
    lw::runReplay(parsed.value, opt, sink, nullptr);

    const std::string log = readFile(opt.logPath);
    const std::string json = reportOf(log);
    const fs::path golden = fs::path(LW_SOURCE_DIR) / "tests/data/report/generated-night.json";
    if (std::getenv("LW_UPDATE_GOLDEN")) spit(golden, json);
    spit(kOut / "night.json", json);
    EXPECT_EQ(json, readFile(golden)) << "diff " << (kOut / "night.json") << ' ' << golden;
    const std::string html = reportOf(log, 1 << 20, true);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("Salle \xC3\x89toile"), std::string::npos);
}

// A stretch given by --night or --from/--to, and the last night by default.
TEST(NightReport, StretchesAndNights) {
    EXPECT_EQ(lw::nightStart(*lw::parseReportTime("2026-12-09T11:59:59")),
              *lw::parseReportTime("2026-12-08T12:00"));
    EXPECT_EQ(lw::nightStart(*lw::parseReportTime("2026-12-09T12:00:00")),
              *lw::parseReportTime("2026-12-09T12:00"));
    EXPECT_EQ(lw::isoText(*lw::parseReportTime("1969-12-31 23:59:59")), "1969-12-31T23:59:59");
    EXPECT_FALSE(lw::parseReportTime("2026-02-30"));
    EXPECT_FALSE(lw::parseReportTime("2026-12-08T25:00"));

    // Two nights: by default the last; a show across noon is clipped to it.
    lw::ReportPieces p;
    p.name = "2";
    std::string log = lw::formatRecord(ReportKind::Started, "9:00:00 PM", "12/7/2026", p) +
                      lw::formatRecord(ReportKind::Started, "11:00:00 AM", "12/8/2026", p) +
                      lw::formatRecord(ReportKind::FeatureEnded, "1:00:00 PM", "12/8/2026", p);
    lw::NightModel last({});
    lw::NightModel first(
        {*lw::parseReportTime("2026-12-07T12:00"), *lw::parseReportTime("2026-12-08T12:00")});
    lw::ActivityLogReader reader([&](const lw::LogRecord& r) {
        last.add(r);
        first.add(r);
    });
    reader.feed(log);
    reader.end();
    const lw::NightFacts a = last.finish(), b = first.finish();
    EXPECT_EQ(lw::isoText(a.from), "2026-12-08T12:00:00");
    ASSERT_EQ(a.units.size(), 1u);
    ASSERT_EQ(a.units[0].shows.size(), 1u);
    EXPECT_EQ(a.units[0].shows[0].start, a.from);
    EXPECT_EQ(a.units[0].longestShow, 2 * 3600);
    ASSERT_EQ(b.units.size(), 1u);
    EXPECT_EQ(b.units[0].started, 2u);
    ASSERT_EQ(b.units[0].shows.size(), 2u);  // restarted, then running at noon
    EXPECT_EQ(b.units[0].shows[0].how, lw::ShowEnd::Restarted);
    EXPECT_EQ(b.units[0].shows[1].end, b.to);
}

// How shows become bars, one small log a row: ends, restarts, a start taken
// back from a failure's show clock, a show with no end, clipping at noon.
TEST(NightReport, ShowBars) {
    struct Row {
        std::vector<std::tuple<ReportKind, const char*, const char*>> records;  // kind, time, date
        std::string bars;
    };
    const std::vector<Row> rows = {
        {{{ReportKind::Started, "9:00:00 PM", "12/8/2026"},
          {ReportKind::FeatureEnded, "11:00:00 PM", "12/8/2026"}},
         "ended 21:00:00-23:00:00 2:00:00"},
        {{{ReportKind::Failed, "10:00:00 PM", "12/8/2026"}},
         "failed 21:30:00-22:00:00 guessed 0:30:00"},
        {{{ReportKind::StartedInterlock, "9:00:00 PM", "12/8/2026"},
          {ReportKind::Started, "10:00:00 PM", "12/8/2026"},
          {ReportKind::StoppedReadyInterlock, "10:30:00 PM", "12/8/2026"}},
         "restarted 21:00:00-22:00:00 interlock stopped 22:00:00-22:30:00 0:30:00"},
        {{{ReportKind::Started, "1:00:00 PM", "12/8/2026"},
          {ReportKind::PanicStop, "11:00:00 PM", "12/8/2026"}},
         "open 13:00:00-21:00:00"},
        {{{ReportKind::Started, "11:00:00 AM", "12/9/2026"},
          {ReportKind::FeatureEndedInterlock, "1:00:00 PM", "12/9/2026"}},
         "ended 11:00:00-12:00:00"},
    };
    const char* ends[] = {"ended", "stopped", "failed", "restarted", "open"};
    for (const Row& row : rows) {
        lw::ReportPieces p;
        p.name = "1";
        p.cause = " MOTION ";
        p.clock = "0:30:00";
        std::string log;
        for (const auto& [kind, time, date] : row.records)
            log += lw::formatRecord(kind, time, date, p);
        lw::NightModel model(
            {*lw::parseReportTime("2026-12-08T12:00"), *lw::parseReportTime("2026-12-09T12:00")});
        lw::ActivityLogReader reader([&](const lw::LogRecord& r) { model.add(r); });
        reader.feed(log);
        reader.end();
        const lw::NightFacts f = model.finish();
        std::string bars;
        for (const lw::ShowBar& b : f.units.at(0).shows) {
            bars += std::string(bars.empty() ? "" : " ") + ends[static_cast<int>(b.how)] + ' ' +
                    lw::isoText(b.start).substr(11) + '-' + lw::isoText(b.end).substr(11) +
                    (b.startSeen ? "" : " guessed") + (b.interlock ? " interlock" : "");
        }
        if (f.units[0].longestShow >= 0) bars += ' ' + lw::durationText(f.units[0].longestShow);
        EXPECT_EQ(bars, row.bars) << log;
    }
}

// Panic stops a minute or less apart are one burst; noise falls in its slice.
TEST(NightReport, PanicBurstsAndNoiseSlices) {
    std::string log;
    for (const char* t : {"10:00:00 PM", "10:00:30 PM", "10:01:30 PM", "10:02:31 PM"}) {
        log += lw::formatRecord(ReportKind::PanicStop, t, "12/8/2026", {});
    }
    log += lw::formatRecord(ReportKind::Noise, "6:00:00 PM", "12/8/2026", {});
    lw::NightModel model({});
    lw::ActivityLogReader reader([&](const lw::LogRecord& r) { model.add(r); });
    reader.feed(log);
    reader.end();
    const lw::NightFacts f = model.finish();
    ASSERT_EQ(f.panics.size(), 2u);
    EXPECT_EQ(f.panics[0].count, 3u);
    EXPECT_EQ(lw::isoText(f.panics[0].last), "2026-12-08T22:01:30");
    EXPECT_EQ(f.panicBursts, 2u);
    EXPECT_EQ(f.panicCount, 4u);
    EXPECT_EQ(f.noiseBins[72], 1u);  // 6 of 24 hours into the night
}
