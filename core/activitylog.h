#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reports.h"
#include "core/result.h"

namespace lw {

// Seconds since 1970-01-01 00:00 of the log's own wall clock (no zone).
using LogTime = std::int64_t;

// One record of the activity log as its first line tells it. The views point
// into the reader's line buffer and last for the call that hands them out.
struct LogRecord {
    ReportKind kind = ReportKind::RawBlock;
    LogTime time = 0;
    std::string_view name;          // unit events: the unit name, Latin-1 bytes
    std::string_view cause;         // failures: "PRESENCE", "MOTION", as written
    std::string_view clock;         // failures: the show clock text, blanks cut
    std::int64_t showSeconds = -1;  // the clock text in seconds, -1 if none
    std::string_view line;          // the first line, exactly
    std::uint64_t lineNumber = 0;
};

// The record a first line opens, or nothing when the line opens none. Times
// read as the monitor writes them ("10:15:07 PM", "21:15:07") and dates as
// "3/1/2002".
std::optional<LogRecord> parseRecordLine(std::string_view line);

// "H:MM:SS" (optionally " AM"/" PM") as seconds of the day.
std::optional<int> parseTimeOfDay(std::string_view text);
// "M/D/YYYY" as days since 1970-01-01.
std::optional<std::int64_t> parseLogDate(std::string_view text);

// A line the reader could not place, as it began.
struct LogLine {
    std::string source;
    std::uint64_t lineNumber = 0;
    std::string text;  // at most kKeptLineBytes of it
};

struct LogReadStats {
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    std::array<std::uint64_t, 12> records{};  // by ReportKind
    std::uint64_t rawBytes = 0;               // bytes inside raw blocks
    std::uint64_t notRead = 0;                // lines that belong to no record
    std::vector<LogLine> firstNotRead;        // the first few of them
    std::uint64_t unclosed = 0;               // records cut short by the next record
    std::uint64_t backwards = 0;              // records dated before the one read before
    std::vector<LogLine> torn;                // per input: a last record cut off

    std::uint64_t recordCount() const;
};

// Reads activity logs as a stream of bytes, one record at a time: memory stays
// bounded whatever the size of the logs or of a raw block in them. Lines end
// in CR LF, CR or LF alike.
class ActivityLogReader {
public:
    using RecordSink = std::function<void(const LogRecord&)>;
    static constexpr std::size_t kKeptLineBytes = 160;
    static constexpr std::size_t kKeptNotRead = 5;

    explicit ActivityLogReader(RecordSink sink);

    // One input after the other: begin, feed its bytes in any pieces, end.
    void begin(std::string source);
    void feed(std::string_view bytes);
    void end();

    const LogReadStats& stats() const { return m_stats; }

private:
    void line(std::string_view text, bool complete);
    void opened(const LogRecord& r);

    RecordSink m_sink;
    LogReadStats m_stats;
    std::string m_source;
    std::string m_line;  // the current line's head, at most kLineCap bytes
    std::uint64_t m_lineBytes = 0;
    bool m_afterCr = false;
    std::uint64_t m_lineNumber = 0;
    // The record whose closing line is awaited, and whether lines before that
    // are its body (raw data, a buffer, a quick save's text).
    std::optional<ReportKind> m_open;
    bool m_openHasBody = false;
    LogLine m_openStart;
    LogTime m_lastTime = 0;
    bool m_anyTime = false;
};

// Streams a file through the reader; fails only when it cannot be read.
Result<> readLogFile(const std::string& path, ActivityLogReader& reader);

}  // namespace lw
