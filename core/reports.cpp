#include "core/reports.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/textutil.h"

namespace lw {

namespace {

constexpr std::string_view kCrLf = "\r\n";

void add(std::string& out, std::initializer_list<std::string_view> parts) {
    std::size_t n = out.size();
    for (auto p : parts) n += p.size();
    out.reserve(n);
    for (auto p : parts) out.append(p);
}

std::string_view unitEventText(ReportKind kind) {
    switch (kind) {
        case ReportKind::Started:
            return " HAS BEEN STARTED ";
        case ReportKind::StartedInterlock:
            return " HAS BEEN STARTED IN INTERLOCK ";
        case ReportKind::FeatureEnded:
            return " FEATURE ENDED ";
        case ReportKind::FeatureEndedInterlock:
            return " FEATURE ENDED IN INTERLOCK ";
        case ReportKind::StoppedReady:
            return " STOPPED AND READY ";
        case ReportKind::StoppedReadyInterlock:
            return " STOPPED AND READY IN INTERLOCK ";
        default:
            return {};
    }
}

}  // namespace

std::string formatRecord(ReportKind kind, std::string_view t, std::string_view d,
                         const ReportPieces& p) {
    std::string out;
    switch (kind) {
        case ReportKind::RawBlock:
            add(out, {"RAW COMM DATA LOG ", t, "   ", d, kCrLf, p.raw, kCrLf, kRule});
            break;
        case ReportKind::PanicStop:
            add(out, {"!!!!!!!!!!! PANIC STOP DETECTED ", t, "  ", d, kCrLf, kBangs});
            break;
        case ReportKind::Noise:
            add(out, {"***NOISE*** ", t, "   ", d, kCrLf, p.buffer, kCrLf, kRule});
            break;
        case ReportKind::StartedInterlock:
            add(out, {"KX-40 #", p.name, unitEventText(kind), t, "   ", d, kCrLf, p.buffer, kCrLf,
                      kRule});
            break;
        case ReportKind::Started:
        case ReportKind::FeatureEnded:
        case ReportKind::FeatureEndedInterlock:
        case ReportKind::StoppedReady:
        case ReportKind::StoppedReadyInterlock:
            add(out, {"KX-40 #", p.name, unitEventText(kind), t, "   ", d, kCrLf, kRule});
            break;
        case ReportKind::Failed:
            add(out, {"KX-40 #", p.name, " !!!!!*   FAILED BECAUSE OF", p.cause, "  *!!!!! ",
                      p.clock, " INTO THE SHOW, AT  ", t, "  ON THE ", d, kCrLf, kRule});
            break;
        case ReportKind::FailedInterlock:
            add(out,
                {"KX-40 #", p.name, " !!!!!*  FAILED IN INTERLOCK BECAUSE OF ", p.cause,
                 "  *!!!!! ", p.clock, " INTO THE SHOW, AT ", t, "  ON THE  ", d, kCrLf, kRule});
            break;
        case ReportKind::QuickSave:
            add(out, {"COMM WINDOW QUICK SAVE ", t, "  ", d, kCrLf, p.text, kCrLf, kRule});
            break;
    }
    out.append(kCrLf);
    return out;
}

bool reportAllowed(ReportKind kind, const LogOptions& o) {
    switch (kind) {
        case ReportKind::RawBlock:
            return o.rawOn();
        case ReportKind::Noise:
            return o.noiseOn();
        case ReportKind::QuickSave:
            return true;
        default:
            return o.activityOn();
    }
}

Result<> FileLogSink::append(const std::string& path, std::string_view record) {
    const auto p = pathFromUtf8(path);
    std::error_code ec;
    // Only a regular file can be cut back; devices and pipes are left alone.
    const bool existed = std::filesystem::is_regular_file(p, ec);
    const auto before = existed ? std::filesystem::file_size(p, ec) : std::uintmax_t{0};

    errno = 0;
    std::ofstream out(p, std::ios::binary | std::ios::app);
    if (!out) {
        const int e = errno;
        return {false, e ? std::generic_category().message(e) : "cannot open the file"};
    }
    out.write(record.data(), static_cast<std::streamsize>(record.size()));
    out.close();
    if (out.fail()) {
        const int e = errno;
        // Take back what part of the record got out, so no half record stays.
        if (existed || std::filesystem::is_regular_file(p, ec)) {
            std::filesystem::resize_file(p, before, ec);
        }
        return {false, e ? std::generic_category().message(e) : "cannot write the file"};
    }
    return {};
}

EventReports::EventReports(LogSink& sink, OptionsReader options)
    : m_sink(sink), m_options(std::move(options)) {}

void EventReports::report(ReportKind kind, std::string_view t, std::string_view d,
                          const ReportPieces& pieces) {
    if (m_reportObserver) m_reportObserver(kind, pieces);
    const LogOptions options = m_options();
    if (!reportAllowed(kind, options)) return;
    write(kind, t, d, options.logpath, formatRecord(kind, t, d, pieces));
}

Result<> EventReports::quickSave(std::string_view t, std::string_view d, std::string_view text) {
    ReportPieces pieces;
    pieces.text = text;
    return write(ReportKind::QuickSave, t, d, m_options().logpath,
                 formatRecord(ReportKind::QuickSave, t, d, pieces));
}

Result<> EventReports::write(ReportKind kind, std::string_view t, std::string_view d,
                             const std::string& path, const std::string& record) {
    Result<> r = m_sink.append(path, record);
    if (r.ok) {
        ++m_written;
        m_failing = false;
    } else {
        ++m_dropped;
        if (!m_failing) {
            m_failing = true;
            if (m_onFailure) m_onFailure(LogFailure{path, r.error});
        }
    }
    if (m_observer) m_observer(RecordEvent{kind, t, d, record, r.ok, r.error, {}});
    return r;
}

}  // namespace lw
