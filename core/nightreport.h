#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/activitylog.h"

namespace lw {

// How a show bar ends.
enum class ShowEnd {
    FeatureEnded,
    StoppedReady,
    Failed,
    Restarted,  // a new start came first
    Open,       // no end in the log
};

struct ShowBar {
    LogTime start = 0;
    LogTime end = 0;
    ShowEnd how = ShowEnd::Open;
    bool interlock = false;  // started in interlock
    bool startSeen = true;   // false: taken back from a failure's show time
};

struct FailureMark {
    LogTime time = 0;
    std::string unit;
    std::string cause;
    std::string clock;
    std::int64_t showSeconds = -1;
    bool interlock = false;
    std::string record;  // the first line, exactly
};

// Panic stops a minute or less apart make one burst: a "PK" that stays in
// the decoder's buffer is reported on every tick until it is pushed out.
struct PanicMark {
    LogTime time = 0;  // the first of the burst
    LogTime last = 0;
    std::uint64_t count = 1;
    std::string record;  // the first record's first line
};
inline constexpr LogTime kPanicBurst = 60;

struct UnitNight {
    std::string name;
    std::uint64_t started = 0;
    std::uint64_t startedInterlock = 0;
    std::uint64_t featureEnded = 0;
    std::uint64_t stoppedReady = 0;
    std::map<std::string, std::uint64_t> failures;  // by cause
    std::int64_t longestShow = -1;                  // seconds, -1 when none ended
    std::vector<ShowBar> shows;
    std::uint64_t failureCount() const;
};

// What one stretch of time (a night by default) holds.
struct NightFacts {
    LogTime from = 0;
    LogTime to = 0;
    bool empty = true;             // no record fell in the stretch
    std::vector<UnitNight> units;  // in name order, numbers by value
    std::vector<FailureMark> failures;
    std::vector<PanicMark> panics;
    std::uint64_t failureCount = 0;
    std::uint64_t panicCount = 0;   // records
    std::uint64_t panicBursts = 0;  // as PanicMark counts them
    std::uint64_t noiseRecords = 0;
    std::vector<std::uint32_t> noiseBins;  // kNoiseBins equal slices of the stretch
    std::uint64_t rawBlocks = 0;
    std::uint64_t quickSaves = 0;
    std::uint64_t records = 0;
    std::optional<LogTime> lastRecord;  // the latest record time in the input

    bool allClear() const { return failureCount == 0 && panicCount == 0; }
};

struct NightWindow {
    // Both or neither; neither: the last night (noon to noon) in the input.
    std::optional<LogTime> from;
    std::optional<LogTime> to;
};

inline constexpr LogTime kDay = 86400;
inline constexpr LogTime kNoon = 12 * 3600;
inline constexpr std::size_t kNoiseBins = 288;
// Marks kept for drawing and listing; beyond them only counted.
inline constexpr std::size_t kMarksKept = 20000;
inline constexpr std::size_t kShowsKept = 100000;

// The night that a moment belongs to, as the time of its noon.
inline LogTime nightStart(LogTime t) {
    const LogTime d = t - kNoon;
    return (d >= 0 ? d / kDay : (d - kDay + 1) / kDay) * kDay + kNoon;
}

// Builds the facts of one stretch from records in the order the log holds
// them. Only the stretch's marks and bars are kept, so a year of logs takes
// no more memory than its busiest night.
class NightModel {
public:
    explicit NightModel(NightWindow window);

    void add(const LogRecord& r);
    // The facts; shows without an end run to the last record.
    NightFacts finish();

private:
    struct UnitState {
        std::optional<LogTime> showStart;
        bool interlock = false;
    };
    void restart(LogTime from);
    UnitNight& unit(std::string_view name);
    void addBar(std::string_view name, ShowBar bar);

    NightWindow m_window;
    NightFacts m_facts;
    std::map<std::string, UnitState, std::less<>> m_states;
    std::map<std::string, std::size_t, std::less<>> m_unitIndex;
    std::size_t m_showsKept = 0;
    bool m_started = false;  // the last-night stretch has been placed
};

// "2026-12-08T22:15:10"
std::string isoText(LogTime t);
// "2026-12-08", "2026-12-08T22:15" or "2026-12-08T22:15:10" (or a blank for
// the T); a bare date is its midnight.
std::optional<LogTime> parseReportTime(std::string_view text);
// "1:05:07", hours unbounded.
std::string durationText(std::int64_t seconds);

struct ReportInput {
    const NightFacts& facts;
    const LogReadStats& read;
    std::string_view title;
};

// One self-contained page: inline CSS and SVG, no script, one A4 landscape
// page in print.
std::string renderHtml(const ReportInput& in);
// The same facts for scripts.
std::string renderJson(const ReportInput& in);

}  // namespace lw
