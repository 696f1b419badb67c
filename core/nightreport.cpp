#include "core/nightreport.h"

#include <algorithm>
#include <chrono>

#include "core/textutil.h"

namespace lw {

namespace {

// A show with no end in the log is drawn for at most this long: the monitor
// was stopped, or the unit went quiet, and the log cannot say when it ended.
constexpr LogTime kLongestUnended = 8 * 3600;
// Unit names kept track of; a damaged log could otherwise invent any number.
constexpr std::size_t kUnitsKept = 4096;

bool isUnitEvent(ReportKind k) {
    return k >= ReportKind::Started && k <= ReportKind::FailedInterlock;
}

// Numbers by value before other names, those in byte order.
bool nameBefore(const std::string& a, const std::string& b) {
    auto number = [](const std::string& s) {
        return !s.empty() && s.size() < 10 &&
               s.find_first_not_of("0123456789") == std::string::npos;
    };
    const bool na = number(a), nb = number(b);
    if (na != nb) return na;
    if (na) return std::stol(a) < std::stol(b) || (std::stol(a) == std::stol(b) && a < b);
    return a < b;
}

}  // namespace

std::uint64_t UnitNight::failureCount() const {
    std::uint64_t n = 0;
    for (const auto& [cause, count] : failures) n += count;
    return n;
}

NightModel::NightModel(NightWindow window) : m_window(window) {
    if (m_window.from && m_window.to) restart(*m_window.from);
}

void NightModel::restart(LogTime from) {
    const auto last = m_facts.lastRecord;
    m_facts = NightFacts{};
    m_facts.lastRecord = last;
    m_facts.from = from;
    m_facts.to = m_window.to ? *m_window.to : from + kDay;
    m_facts.noiseBins.assign(kNoiseBins, 0);
    m_unitIndex.clear();
    m_showsKept = 0;
}

UnitNight& NightModel::unit(std::string_view name) {
    auto it = m_unitIndex.find(name);
    if (it == m_unitIndex.end()) {
        it = m_unitIndex.emplace(std::string(name), m_facts.units.size()).first;
        m_facts.units.emplace_back();
        m_facts.units.back().name = std::string(name);
    }
    return m_facts.units[it->second];
}

void NightModel::addBar(std::string_view name, ShowBar bar) {
    if (bar.how == ShowEnd::Open || bar.how == ShowEnd::Restarted) {
        bar.end = std::min(bar.end, bar.start + kLongestUnended);
    }
    if (bar.end < m_facts.from || bar.start >= m_facts.to) return;
    UnitNight& u = unit(name);
    const bool endsInside = bar.end >= m_facts.from && bar.end < m_facts.to;
    if (endsInside && bar.how != ShowEnd::Open && bar.how != ShowEnd::Restarted) {
        u.longestShow = std::max(u.longestShow, bar.end - bar.start);
    }
    if (m_showsKept >= kShowsKept) return;
    ++m_showsKept;
    bar.start = std::max(bar.start, m_facts.from);
    bar.end = std::min(bar.end, m_facts.to);
    u.shows.push_back(bar);
}

void NightModel::add(const LogRecord& r) {
    if (!m_facts.lastRecord || r.time > *m_facts.lastRecord) m_facts.lastRecord = r.time;
    if (!m_window.from) {
        const LogTime night = nightStart(r.time);
        if (!m_started || night > m_facts.from) restart(night);
        m_started = true;
    }
    const bool inside = r.time >= m_facts.from && r.time < m_facts.to;
    if (inside) {
        ++m_facts.records;
        m_facts.empty = false;
    }

    if (isUnitEvent(r.kind)) {
        auto st = m_states.find(r.name);
        if (st == m_states.end()) {
            if (m_states.size() >= kUnitsKept) return;
            st = m_states.emplace(std::string(r.name), UnitState{}).first;
        }
        UnitState& s = st->second;
        UnitNight* u = inside ? &unit(r.name) : nullptr;
        auto close = [&](ShowEnd how) {
            if (s.showStart) addBar(r.name, ShowBar{*s.showStart, r.time, how, s.interlock});
            s.showStart.reset();
        };
        switch (r.kind) {
            case ReportKind::Started:
            case ReportKind::StartedInterlock:
                close(ShowEnd::Restarted);
                s.showStart = r.time;
                s.interlock = r.kind == ReportKind::StartedInterlock;
                if (u) {
                    ++u->started;
                    if (s.interlock) ++u->startedInterlock;
                }
                break;
            case ReportKind::FeatureEnded:
            case ReportKind::FeatureEndedInterlock:
                close(ShowEnd::FeatureEnded);
                if (u) ++u->featureEnded;
                break;
            case ReportKind::StoppedReady:
            case ReportKind::StoppedReadyInterlock:
                close(ShowEnd::StoppedReady);
                if (u) ++u->stoppedReady;
                break;
            default: {  // failed, failed in interlock
                if (!s.showStart && r.showSeconds >= 0) {
                    // The show clock tells when the show began.
                    addBar(r.name,
                           ShowBar{r.time - r.showSeconds, r.time, ShowEnd::Failed, false, false});
                }
                close(ShowEnd::Failed);
                if (!u) break;
                ++u->failures[std::string(r.cause)];
                ++m_facts.failureCount;
                if (m_facts.failures.size() < kMarksKept) {
                    m_facts.failures.push_back(FailureMark{
                        r.time, std::string(r.name), std::string(r.cause), std::string(r.clock),
                        r.showSeconds, r.kind == ReportKind::FailedInterlock, std::string(r.line)});
                }
            }
        }
        return;
    }
    if (!inside) return;
    switch (r.kind) {
        case ReportKind::PanicStop:
            ++m_facts.panicCount;
            if (!m_facts.panics.empty() && r.time >= m_facts.panics.back().last &&
                r.time - m_facts.panics.back().last <= kPanicBurst) {
                ++m_facts.panics.back().count;
                m_facts.panics.back().last = r.time;
            } else {
                ++m_facts.panicBursts;
                if (m_facts.panics.size() < kMarksKept) {
                    m_facts.panics.push_back(PanicMark{r.time, r.time, 1, std::string(r.line)});
                }
            }
            break;
        case ReportKind::Noise: {
            ++m_facts.noiseRecords;
            const auto span = static_cast<std::uint64_t>(m_facts.to - m_facts.from);
            const auto at = static_cast<std::uint64_t>(r.time - m_facts.from);
            ++m_facts.noiseBins[static_cast<std::size_t>(at * kNoiseBins / span)];
            break;
        }
        case ReportKind::RawBlock:
            ++m_facts.rawBlocks;
            break;
        default:
            ++m_facts.quickSaves;
    }
}

NightFacts NightModel::finish() {
    if (m_facts.lastRecord) {
        for (const auto& [name, s] : m_states) {
            if (s.showStart) {
                addBar(name,
                       ShowBar{*s.showStart, *m_facts.lastRecord, ShowEnd::Open, s.interlock});
            }
        }
    }
    if (!m_window.from && !m_started) restart(nightStart(0));
    // Newest last, also when the log was not in time order.
    std::stable_sort(m_facts.failures.begin(), m_facts.failures.end(),
                     [](const FailureMark& a, const FailureMark& b) { return a.time < b.time; });
    std::stable_sort(m_facts.panics.begin(), m_facts.panics.end(),
                     [](const PanicMark& a, const PanicMark& b) { return a.time < b.time; });
    std::sort(m_facts.units.begin(), m_facts.units.end(),
              [](const UnitNight& a, const UnitNight& b) { return nameBefore(a.name, b.name); });
    return std::move(m_facts);
}

std::string isoText(LogTime t) {
    using namespace std::chrono;
    const LogTime day = t >= 0 ? t / kDay : (t - kDay + 1) / kDay;
    const year_month_day ymd{sys_days{days{day}}};
    const LogTime s = t - day * kDay;
    std::string y = std::to_string(static_cast<int>(ymd.year()));
    while (y.size() < 4) y.insert(0, "0");
    return y + '-' + twoDigits(static_cast<int>(static_cast<unsigned>(ymd.month()))) + '-' +
           twoDigits(static_cast<int>(static_cast<unsigned>(ymd.day()))) + 'T' +
           twoDigits(static_cast<int>(s / 3600)) + ':' + twoDigits(static_cast<int>(s / 60 % 60)) +
           ':' + twoDigits(static_cast<int>(s % 60));
}

std::optional<LogTime> parseReportTime(std::string_view s) {
    if (s.size() < 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    if (!parseDecimal(s.substr(0, 4), y) || !parseDecimal(s.substr(5, 2), m) ||
        !parseDecimal(s.substr(8, 2), d)) {
        return std::nullopt;
    }
    if (s.size() > 10) {
        if ((s[10] != 'T' && s[10] != ' ') || (s.size() != 16 && s.size() != 19) || s[13] != ':' ||
            !parseDecimal(s.substr(11, 2), hh) || !parseDecimal(s.substr(14, 2), mm) ||
            (s.size() == 19 && (s[16] != ':' || !parseDecimal(s.substr(17, 2), ss))) || hh > 23 ||
            mm > 59 || ss > 59) {
            return std::nullopt;
        }
    }
    using namespace std::chrono;
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)},
                             day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return std::nullopt;
    return sys_days(ymd).time_since_epoch().count() * kDay + hh * 3600 + mm * 60 + ss;
}

std::string durationText(std::int64_t s) {
    return std::to_string(s / 3600) + ':' + twoDigits(static_cast<int>(s / 60 % 60)) + ':' +
           twoDigits(static_cast<int>(s % 60));
}

}  // namespace lw
