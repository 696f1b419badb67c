#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reports.h"
#include "core/unitcontract.h"

// The service's state in Prometheus' text exposition format 0.0.4, for GET
// /metrics. Text only; the caller gathers the numbers.
namespace lw::prometheus {

inline constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

// The standard process_* metrics; the platform layer reads them.
struct ProcessSample {
    double cpuSeconds = 0;
    double residentBytes = 0;
    double virtualBytes = 0;
    double startTime = 0;  // Unix seconds
    double openFds = 0;
    std::optional<double> maxFds;
};

struct MqttSample {
    bool connected = false;
    std::uint64_t queuedRecords = 0;
};

struct RecordCount {
    std::string kind;
    std::uint64_t count = 0;
};

struct Sample {
    std::string site;  // UTF-8
    BoardView board;
    std::vector<RecordCount> records;
    std::uint64_t logWriteFailures = 0;
    std::optional<MqttSample> mqtt;  // only when publishing to a broker
    std::uint64_t httpClients = 0;
    std::optional<ProcessSample> process;
};

// The kinds of linewarden_records_total, the interlock forms counted with
// their plain ones.
inline constexpr std::array<std::string_view, 7> kRecordKinds = {
    "started", "feature_ended", "stopped_ready", "failed", "panic_stop", "noise", "raw_block"};

// Counts the records the log options let through, written or not.
class RecordCounter {
public:
    void add(ReportKind kind);
    // Every kind, the ones never seen at 0, so a rate starts at once.
    std::vector<RecordCount> counts() const;

private:
    std::array<std::uint64_t, kRecordKinds.size()> m_counts{};
};

// Every metric with its HELP and TYPE lines, ended by a line feed.
std::string exposition(const Sample& sample);

// A label value as the format wants it: UTF-8 with backslash, double quote
// and line feed escaped. `latin1` for the board's unit names.
std::string labelValue(std::string_view text, bool latin1 = false);

// Seconds since the Unix epoch of a zoned local time.
double unixSeconds(const ZonedTime& t);

}  // namespace lw::prometheus
