#include "core/activitylog.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>

#include "core/textutil.h"

namespace lw {

namespace {

// No record's first line comes near this; longer lines are only counted.
constexpr std::size_t kLineCap = 4096;

constexpr std::string_view kUnitPrefix = "KX-40 #";

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return trimRight(s);
}

// The time and date that end a first line, and what stands before them (the
// single blank before the time taken off). Failure lines put "ON THE"
// between the two.
struct Stamp {
    std::string_view before;
    LogTime time = 0;
};

std::optional<Stamp> stampAtEnd(std::string_view s, bool onThe) {
    const auto sp = s.rfind(' ');
    if (sp == std::string_view::npos) return std::nullopt;
    const auto days = parseLogDate(s.substr(sp + 1));
    if (!days) return std::nullopt;
    s = trimRight(s.substr(0, sp));
    if (onThe) {
        if (!s.ends_with(" ON THE")) return std::nullopt;
        s = trimRight(s.substr(0, s.size() - 7));
    }
    const bool halfDay = s.ends_with(" AM") || s.ends_with(" PM");
    if (halfDay && s.size() < 4) return std::nullopt;
    const auto at = s.rfind(' ', halfDay ? s.size() - 4 : std::string_view::npos);
    if (at == std::string_view::npos) return std::nullopt;
    const auto secs = parseTimeOfDay(s.substr(at + 1));
    if (!secs) return std::nullopt;
    return Stamp{s.substr(0, at), *days * 86400 + *secs};
}

struct UnitEvent {
    std::string_view suffix;
    ReportKind kind;
};

// Longest first: a shorter text is the start of a longer one.
constexpr UnitEvent kUnitEvents[] = {
    {" HAS BEEN STARTED IN INTERLOCK", ReportKind::StartedInterlock},
    {" HAS BEEN STARTED", ReportKind::Started},
    {" FEATURE ENDED IN INTERLOCK", ReportKind::FeatureEndedInterlock},
    {" FEATURE ENDED", ReportKind::FeatureEnded},
    {" STOPPED AND READY IN INTERLOCK", ReportKind::StoppedReadyInterlock},
    {" STOPPED AND READY", ReportKind::StoppedReady},
};

std::int64_t clockSeconds(std::string_view clock) {
    const auto c1 = clock.find(':');
    if (c1 == std::string_view::npos || c1 == 0 || c1 > 6 || clock.size() != c1 + 6 ||
        clock[c1 + 3] != ':') {
        return -1;
    }
    std::int64_t h = 0;
    int m = 0, s = 0;
    if (!parseDecimal(clock.substr(0, c1), h) || !parseDecimal(clock.substr(c1 + 1, 2), m) ||
        !parseDecimal(clock.substr(c1 + 4, 2), s) || m > 59 || s > 59) {
        return -1;
    }
    return h * 3600 + m * 60 + s;
}

// "KX-40 #NAME !!!!!*   FAILED BECAUSE OF CAUSE   *!!!!! CLOCK INTO THE SHOW, AT",
// read from the right so that a name may hold any of these words.
bool readFailure(std::string_view s, LogRecord& r) {
    constexpr std::string_view kInto = " INTO THE SHOW, AT";
    if (!s.ends_with(kInto)) return false;
    s.remove_suffix(kInto.size());
    const auto mark = s.rfind("  *!!!!!");
    if (mark == std::string_view::npos) return false;
    r.clock = trim(s.substr(mark + 8));
    s = trimRight(s.substr(0, mark));
    const auto because = s.rfind(" BECAUSE OF");
    if (because == std::string_view::npos) return false;
    r.cause = trim(s.substr(because + 11));
    s = s.substr(0, because);
    const bool interlock = s.ends_with(" FAILED IN INTERLOCK");
    if (!interlock && !s.ends_with(" FAILED")) return false;
    s = trimRight(s.substr(0, s.size() - (interlock ? 20 : 7)));
    if (!s.ends_with(" !!!!!*") || s.size() < kUnitPrefix.size() + 7) return false;
    r.name = s.substr(kUnitPrefix.size(), s.size() - 7 - kUnitPrefix.size());
    r.kind = interlock ? ReportKind::FailedInterlock : ReportKind::Failed;
    r.showSeconds = clockSeconds(r.clock);
    return true;
}

bool hasBody(ReportKind k) {
    return k == ReportKind::RawBlock || k == ReportKind::Noise || k == ReportKind::QuickSave ||
           k == ReportKind::StartedInterlock;
}

}  // namespace

std::optional<int> parseTimeOfDay(std::string_view s) {
    int shift = -1;  // 0 AM, 12 PM, -1 a 24-hour clock
    if (s.ends_with(" AM") || s.ends_with(" PM")) {
        shift = s[s.size() - 2] == 'P' ? 12 : 0;
        s.remove_suffix(3);
    }
    const auto c1 = s.find(':');
    if (c1 == std::string_view::npos || c1 == 0 || c1 > 2 || s.size() != c1 + 6 ||
        s[c1 + 3] != ':') {
        return std::nullopt;
    }
    int h = 0, m = 0, sec = 0;
    if (!parseDecimal(s.substr(0, c1), h) || !parseDecimal(s.substr(c1 + 1, 2), m) ||
        !parseDecimal(s.substr(c1 + 4, 2), sec) || m > 59 || sec > 59) {
        return std::nullopt;
    }
    if (shift < 0) {
        if (h > 23) return std::nullopt;
    } else {
        if (h < 1 || h > 12) return std::nullopt;
        h = h % 12 + shift;
    }
    return h * 3600 + m * 60 + sec;
}

std::optional<std::int64_t> parseLogDate(std::string_view s) {
    const auto a = s.find('/');
    const auto b = a == std::string_view::npos ? a : s.find('/', a + 1);
    if (b == std::string_view::npos || a == 0 || a > 2 || b - a < 2 || b - a > 3 ||
        s.size() != b + 5) {
        return std::nullopt;
    }
    int m = 0, d = 0, y = 0;
    if (!parseDecimal(s.substr(0, a), m) || !parseDecimal(s.substr(a + 1, b - a - 1), d) ||
        !parseDecimal(s.substr(b + 1), y)) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)},
                             day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return std::nullopt;
    return sys_days(ymd).time_since_epoch().count();
}

std::optional<LogRecord> parseRecordLine(std::string_view line) {
    struct Fixed {
        std::string_view prefix;
        ReportKind kind;
    };
    static constexpr Fixed kFixed[] = {
        {"RAW COMM DATA LOG", ReportKind::RawBlock},
        {"!!!!!!!!!!! PANIC STOP DETECTED", ReportKind::PanicStop},
        {"***NOISE***", ReportKind::Noise},
        {"COMM WINDOW QUICK SAVE", ReportKind::QuickSave},
    };
    LogRecord r;
    r.line = line;
    for (const Fixed& f : kFixed) {
        if (!line.starts_with(f.prefix)) continue;
        const auto stamp = stampAtEnd(line, false);
        if (!stamp || trimRight(stamp->before) != f.prefix) return std::nullopt;
        r.kind = f.kind;
        r.time = stamp->time;
        return r;
    }
    if (!line.starts_with(kUnitPrefix)) return std::nullopt;
    if (const auto stamp = stampAtEnd(line, false)) {
        for (const UnitEvent& e : kUnitEvents) {
            if (!stamp->before.ends_with(e.suffix)) continue;
            if (stamp->before.size() < kUnitPrefix.size() + e.suffix.size()) return std::nullopt;
            r.kind = e.kind;
            r.time = stamp->time;
            r.name = stamp->before.substr(
                kUnitPrefix.size(), stamp->before.size() - e.suffix.size() - kUnitPrefix.size());
            return r;
        }
        return std::nullopt;
    }
    const auto stamp = stampAtEnd(line, true);
    if (!stamp || !readFailure(trimRight(stamp->before), r)) return std::nullopt;
    r.time = stamp->time;
    return r;
}

std::uint64_t LogReadStats::recordCount() const {
    std::uint64_t n = 0;
    for (auto c : records) n += c;
    return n;
}

ActivityLogReader::ActivityLogReader(RecordSink sink) : m_sink(std::move(sink)) {
    m_line.reserve(kLineCap);
}

void ActivityLogReader::begin(std::string source) {
    m_source = std::move(source);
    m_line.clear();
    m_lineBytes = 0;
    m_afterCr = false;
    m_lineNumber = 0;
    m_open.reset();
}

void ActivityLogReader::feed(std::string_view bytes) {
    m_stats.bytes += bytes.size();
    const char* p = bytes.data();
    const char* const e = p + bytes.size();
    if (m_afterCr && p < e) {
        m_afterCr = false;
        if (*p == '\n') ++p;
    }
    // Where the next CR and LF stand, each found once: a file with only one
    // kind of line end must not make the other be searched for at every line.
    const char* cr = nullptr;
    const char* lf = nullptr;
    auto next = [&](char c, const char*& at) {
        if (at && at >= p) return;
        const void* f = std::memchr(p, c, static_cast<std::size_t>(e - p));
        at = f ? static_cast<const char*>(f) : e;
    };
    while (p < e) {
        next('\r', cr);
        next('\n', lf);
        const char* stop = std::min(cr, lf);
        const auto n = static_cast<std::size_t>(stop - p);
        if (m_line.size() < kLineCap) m_line.append(p, std::min(n, kLineCap - m_line.size()));
        m_lineBytes += n;
        if (stop == e) return;
        line(m_line, true);
        m_line.clear();
        m_lineBytes = 0;
        p = stop + 1;
        if (*stop == '\r') {
            if (p == e) {
                m_afterCr = true;
            } else if (*p == '\n') {
                ++p;
            }
        }
    }
}

void ActivityLogReader::end() {
    if (!m_line.empty() || m_lineBytes > 0) line(m_line, false);
    if (m_open) m_stats.torn.push_back(m_openStart);
    m_open.reset();
    m_line.clear();
    m_lineBytes = 0;
    m_afterCr = false;
}

void ActivityLogReader::line(std::string_view text, bool complete) {
    ++m_lineNumber;
    if (complete) ++m_stats.lines;
    const bool whole = m_lineBytes == text.size();
    const bool closing = whole && (text == kRule || text == kBangs);
    std::optional<LogRecord> header;
    if (m_open) {
        if (closing && complete) {
            m_open.reset();
            return;
        }
        if (!complete) return;  // the open record is torn; end() says so
        if (whole) header = parseRecordLine(text);
        if (m_openHasBody && !header) {
            if (*m_open == ReportKind::RawBlock) m_stats.rawBytes += m_lineBytes;
            return;
        }
        ++m_stats.unclosed;
        m_open.reset();
    } else if (whole && complete && !closing) {
        header = parseRecordLine(text);
    }
    if (!complete) {
        m_stats.torn.push_back(
            LogLine{m_source, m_lineNumber, std::string(text.substr(0, kKeptLineBytes))});
        return;
    }
    if (header) {
        header->lineNumber = m_lineNumber;
        opened(*header);
        return;
    }
    if (closing) return;  // a closing line on its own holds nothing to lose
    ++m_stats.notRead;
    if (m_stats.firstNotRead.size() < kKeptNotRead) {
        m_stats.firstNotRead.push_back(
            LogLine{m_source, m_lineNumber, std::string(text.substr(0, kKeptLineBytes))});
    }
}

void ActivityLogReader::opened(const LogRecord& r) {
    ++m_stats.records[static_cast<std::size_t>(r.kind)];
    if (m_anyTime && r.time < m_lastTime) ++m_stats.backwards;
    m_lastTime = r.time;
    m_anyTime = true;
    m_open = r.kind;
    m_openHasBody = hasBody(r.kind);
    m_openStart.source = m_source;
    m_openStart.lineNumber = r.lineNumber;
    m_openStart.text.assign(r.line.substr(0, kKeptLineBytes));
    if (m_sink) m_sink(r);
}

Result<> readLogFile(const std::string& path, ActivityLogReader& reader) {
    std::ifstream in(pathFromUtf8(path), std::ios::binary);
    if (!in) return Result<>::failure("cannot read " + path);
    reader.begin(path);
    std::string chunk(1 << 20, '\0');
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        reader.feed(std::string_view(chunk.data(), got));
    }
    if (in.bad()) return Result<>::failure("cannot read " + path);
    reader.end();
    return {};
}

}  // namespace lw
