#include "core/prometheustext.h"

#include <charconv>

#include "core/hadiscovery.h"
#include "core/unitcontract.h"

namespace lw::prometheus {

namespace {

// Shortest text that reads back as the same double; integers without a point.
std::string number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string number(std::uint64_t v) { return std::to_string(v); }
std::string number(bool v) { return v ? "1" : "0"; }

class Writer {
public:
    explicit Writer(std::string site) : m_site(labelValue(site)) {}

    // HELP and TYPE once, before the metric's first series.
    void family(std::string_view name, std::string_view type, std::string_view help) {
        m_text += "# HELP ";
        m_text += name;
        m_text += ' ';
        m_text += help;
        m_text += "\n# TYPE ";
        m_text += name;
        m_text += ' ';
        m_text += type;
        m_text += '\n';
    }
    // `labels` come after site, already escaped: `unit="3",state="failed"`.
    void series(std::string_view name, std::string_view labels, const std::string& value) {
        m_text += name;
        m_text += "{site=\"" + m_site + '"';
        if (!labels.empty()) {
            m_text += ',';
            m_text += labels;
        }
        m_text += "} " + value + '\n';
    }
    // Process metrics carry no labels, as every exporter writes them.
    void bare(std::string_view name, const std::string& value) {
        m_text += name;
        m_text += ' ' + value + '\n';
    }
    const std::string& text() const { return m_text; }

private:
    std::string m_site;
    std::string m_text;
};

std::string unitLabel(int unit) { return "unit=\"" + std::to_string(unit) + '"'; }

}  // namespace

void RecordCounter::add(ReportKind kind) {
    std::size_t i = 0;
    switch (kind) {
        case ReportKind::Started:
        case ReportKind::StartedInterlock:
            i = 0;
            break;
        case ReportKind::FeatureEnded:
        case ReportKind::FeatureEndedInterlock:
            i = 1;
            break;
        case ReportKind::StoppedReady:
        case ReportKind::StoppedReadyInterlock:
            i = 2;
            break;
        case ReportKind::Failed:
        case ReportKind::FailedInterlock:
            i = 3;
            break;
        case ReportKind::PanicStop:
            i = 4;
            break;
        case ReportKind::Noise:
            i = 5;
            break;
        case ReportKind::RawBlock:
            i = 6;
            break;
        case ReportKind::QuickSave:
            return;  // the desktop's own, never a bus record
    }
    ++m_counts[i];
}

std::vector<RecordCount> RecordCounter::counts() const {
    std::vector<RecordCount> out;
    for (std::size_t i = 0; i < kRecordKinds.size(); ++i)
        out.push_back({std::string(kRecordKinds[i]), m_counts[i]});
    return out;
}

std::string labelValue(std::string_view text, bool latin1) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else if (latin1 && c >= 0x80) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += ch;
        }
    }
    return out;
}

double unixSeconds(const ZonedTime& t) {
    // Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days_from_civil).
    const CivilTime& c = t.local;
    const int y = c.year - (c.month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (c.month + (c.month > 2 ? -3 : 9)) + 2) / 5 + c.day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    const std::int64_t seconds = days * 86400 + c.hour * 3600 + c.minute * 60 + c.second -
                                 static_cast<std::int64_t>(t.offsetMinutes) * 60;
    return static_cast<double>(seconds) + c.millisecond / 1000.0;
}

std::string exposition(const Sample& s) {
    Writer w(s.site);
    const auto& units = s.board.units;
    w.family("linewarden_unit_state", "gauge",
             "The unit's state: 1 for the current one, 0 for the others.");
    for (const UnitView& u : units) {
        for (const std::string_view state : ha::unitStateNames()) {
            w.series("linewarden_unit_state",
                     unitLabel(u.unit) + ",state=\"" + std::string(state) + '"',
                     number(state == stateName(u.state)));
        }
    }
    w.family("linewarden_unit_failed", "gauge", "1 while the unit is failed.");
    for (const UnitView& u : units)
        w.series("linewarden_unit_failed", unitLabel(u.unit), number(u.state == UnitState::Failed));
    w.family("linewarden_unit_interlock", "gauge", "1 while the unit reports interlock.");
    for (const UnitView& u : units)
        w.series("linewarden_unit_interlock", unitLabel(u.unit), number(u.interlock));
    w.family("linewarden_unit_show_started_timestamp_seconds", "gauge",
             "When the unit's running show started; absent when no show runs.");
    for (const UnitView& u : units) {
        if (u.showStarted) {
            w.series("linewarden_unit_show_started_timestamp_seconds", unitLabel(u.unit),
                     number(unixSeconds(*u.showStarted)));
        }
    }
    w.family("linewarden_unit_info", "gauge", "The unit's name; always 1.");
    for (const UnitView& u : units) {
        w.series("linewarden_unit_info",
                 unitLabel(u.unit) + ",name=\"" + labelValue(u.name, true) + '"', "1");
    }

    const BusView& bus = s.board.bus;
    w.family("linewarden_bus_port_open", "gauge", "1 while the bus port is open.");
    w.series("linewarden_bus_port_open", {}, number(bus.port == PortState::Open));
    w.family("linewarden_bus_master_remote", "gauge", "1 while the master remote is heard.");
    w.series("linewarden_bus_master_remote", {}, number(bus.remote));
    w.family("linewarden_bus_noise", "gauge", "1 while the bus carries noise.");
    w.series("linewarden_bus_noise", {}, number(bus.noise));
    w.family("linewarden_records_total", "counter",
             "Activity records the log options let through, by kind.");
    for (const RecordCount& r : s.records) {
        w.series("linewarden_records_total", "kind=\"" + labelValue(r.kind) + '"', number(r.count));
    }
    w.family("linewarden_log_write_failures_total", "counter",
             "Records that could not be written to the activity log.");
    w.series("linewarden_log_write_failures_total", {}, number(s.logWriteFailures));
    if (s.mqtt) {
        w.family("linewarden_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
        w.series("linewarden_mqtt_connected", {}, number(s.mqtt->connected));
        w.family("linewarden_mqtt_queue_records", "gauge", "Records waiting for the MQTT broker.");
        w.series("linewarden_mqtt_queue_records", {}, number(s.mqtt->queuedRecords));
    }
    w.family("linewarden_http_clients", "gauge", "Open connections to the web listener.");
    w.series("linewarden_http_clients", {}, number(s.httpClients));

    if (const auto& p = s.process) {
        w.family("process_cpu_seconds_total", "counter",
                 "Total user and system CPU time spent in seconds.");
        w.bare("process_cpu_seconds_total", number(p->cpuSeconds));
        w.family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
        w.bare("process_resident_memory_bytes", number(p->residentBytes));
        w.family("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
        w.bare("process_virtual_memory_bytes", number(p->virtualBytes));
        w.family("process_start_time_seconds", "gauge",
                 "Start time of the process since unix epoch in seconds.");
        w.bare("process_start_time_seconds", number(p->startTime));
        w.family("process_open_fds", "gauge", "Number of open file descriptors.");
        w.bare("process_open_fds", number(p->openFds));
        if (p->maxFds) {
            w.family("process_max_fds", "gauge", "Maximum number of open file descriptors.");
            w.bare("process_max_fds", number(*p->maxFds));
        }
    }
    return w.text();
}

}  // namespace lw::prometheus
