#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/logoptions.h"
#include "core/result.h"

namespace lw {

enum class ReportKind {
    RawBlock,
    PanicStop,
    Noise,
    Started,
    StartedInterlock,
    FeatureEnded,
    FeatureEndedInterlock,
    StoppedReady,
    StoppedReadyInterlock,
    Failed,
    FailedInterlock,
    QuickSave,
};

// The variable parts of a record; each kind uses only some of them.
struct ReportPieces {
    std::string_view name;    // unit name as shown on the board
    std::string_view clock;   // show clock text
    std::string_view cause;   // " PRESENCE " or " MOTION "
    std::string_view buffer;  // the decoder's working buffer
    std::string_view raw;     // collected raw bytes of a raw block
    std::string_view text;    // raw window text of a quick save
    int unit = 0;             // the unit's slot, for unit events
};

inline constexpr std::string_view kRule =
    "________________________________________________________";  // 56
inline constexpr std::string_view kBangs =
    "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!";  // 52

// The complete record text as appended to the log, final CR LF included.
std::string formatRecord(ReportKind kind, std::string_view timeText, std::string_view dateText,
                         const ReportPieces& pieces);

// Whether the options let a record of this kind be written.
bool reportAllowed(ReportKind kind, const LogOptions& options);

// Where records end up. Each append opens, writes and closes: nothing stays
// open between records.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual Result<> append(const std::string& path, std::string_view record) = 0;
};

// Appends to real files; a record that cannot be written whole is taken back
// out, so the file never holds half a record.
class FileLogSink final : public LogSink {
public:
    Result<> append(const std::string& path, std::string_view record) override;
};

// Takes every record and keeps none: a monitor run without a log file.
class DiscardLogSink final : public LogSink {
public:
    Result<> append(const std::string&, std::string_view) override { return {}; }
};

struct LogFailure {
    std::string path;
    std::string error;
};

// One record as the log got it, or failed to: the views last for the call.
struct RecordEvent {
    ReportKind kind = ReportKind::RawBlock;
    std::string_view timeText;
    std::string_view dateText;
    std::string_view text;  // the record as appended, final CR LF included
    bool written = false;
    std::string_view error;  // why not, when not written
    std::string_view at;     // ISO 8601, when the record was made
};

using RecordObserver = std::function<void(const RecordEvent&)>;
// Told of every report raised, whatever the options let into the log.
using ReportObserver = std::function<void(ReportKind, const ReportPieces&)>;

// Gates reports by the options in force at each call, writes the allowed ones
// and tells the owner of a failure once per streak of failed writes.
class EventReports {
public:
    using OptionsReader = std::function<LogOptions()>;
    using FailureHandler = std::function<void(const LogFailure&)>;

    EventReports(LogSink& sink, OptionsReader options);

    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }
    // Told of every record written or attempted, after the attempt.
    void setRecordObserver(RecordObserver observer) { m_observer = std::move(observer); }
    void setReportObserver(ReportObserver observer) { m_reportObserver = std::move(observer); }

    void report(ReportKind kind, std::string_view timeText, std::string_view dateText,
                const ReportPieces& pieces);

    // The raw window's quick save: written whatever the options say. Returns
    // the outcome so the window can tell the user at once.
    Result<> quickSave(std::string_view timeText, std::string_view dateText, std::string_view text);

    bool failing() const { return m_failing; }
    std::uint64_t written() const { return m_written; }
    std::uint64_t dropped() const { return m_dropped; }

private:
    Result<> write(ReportKind kind, std::string_view timeText, std::string_view dateText,
                   const std::string& path, const std::string& record);

    LogSink& m_sink;
    OptionsReader m_options;
    FailureHandler m_onFailure;
    RecordObserver m_observer;
    ReportObserver m_reportObserver;
    bool m_failing = false;
    std::uint64_t m_written = 0;
    std::uint64_t m_dropped = 0;
};

}  // namespace lw
