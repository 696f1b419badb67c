// The night report's two forms: a page for people, JSON for scripts.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/boardjson.h"
#include "core/nightreport.h"
#include "core/textutil.h"

namespace lw {

namespace {

constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};

LogTime dayOf(LogTime t) { return t >= 0 ? t / kDay : (t - kDay + 1) / kDay; }

// "Tue 8 Dec 2026"
std::string dayText(LogTime t) {
    const std::string iso = isoText(t);
    const int month = std::stoi(iso.substr(5, 2));
    const LogTime wd = ((dayOf(t) % 7) + 7) % 7;
    return std::string(kWeekdays[wd]) + ' ' + std::to_string(std::stoi(iso.substr(8, 2))) + ' ' +
           std::string(kMonths[month - 1]) + ' ' + iso.substr(0, 4);
}

std::string clockText(LogTime t) { return isoText(t).substr(11, 5); }

constexpr std::size_t kLabelledFailures = 40;
std::string secondsText(LogTime t) { return isoText(t).substr(11, 8); }

// Latin-1 bytes as UTF-8 page text, markup characters escaped; control
// characters shown as their control pictures so nothing stays invisible.
std::string latin1Html(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            case '"':
                out += "&quot;";
                continue;
            case '\'':
                out += "&#39;";
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) {
            const unsigned u = c == 0x7F ? 0x2421 : 0x2400 + c;
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else if (c >= 0x80 && c < 0xA0) {
            out += "\xEF\xBF\xBD";  // no character of its own in Latin-1
        } else if (c >= 0xA0) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Text that is already UTF-8 (the title from the command line), escaped.
std::string utf8Html(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += static_cast<unsigned char>(ch) < 0x20 ? ' ' : ch;
        }
    }
    return out;
}

std::string utf8Json(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string plural(std::uint64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + ' ' + std::string(n == 1 ? one : many);
}

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

std::string_view endName(ShowEnd e) {
    switch (e) {
        case ShowEnd::FeatureEnded:
            return "feature ended";
        case ShowEnd::StoppedReady:
            return "stopped and ready";
        case ShowEnd::Failed:
            return "failed";
        case ShowEnd::Restarted:
            return "started again, no end recorded";
        default:
            return "no end in the log";
    }
}

std::string_view endClass(ShowEnd e) {
    switch (e) {
        case ShowEnd::FeatureEnded:
            return "ended";
        case ShowEnd::StoppedReady:
            return "stopped";
        case ShowEnd::Failed:
            return "failed";
        case ShowEnd::Restarted:
            return "restarted";
        default:
            return "open";
    }
}

std::string verdict(const NightFacts& f) {
    if (f.empty) return "NO RECORDS";
    if (f.allClear()) return "ALL CLEAR";
    std::string v;
    if (f.failureCount) v = plural(f.failureCount, "FAILURE", "FAILURES");
    if (f.panicBursts) {
        if (!v.empty()) v += ", ";
        v += plural(f.panicBursts, "PANIC STOP", "PANIC STOPS");
    }
    return v;
}

std::string damageText(const LogReadStats& s) {
    std::vector<std::string> parts;
    if (s.notRead) parts.push_back(plural(s.notRead, "line not read", "lines not read"));
    if (!s.torn.empty())
        parts.push_back(plural(s.torn.size(), "torn last record", "torn last records"));
    if (s.unclosed) parts.push_back(plural(s.unclosed, "record cut short", "records cut short"));
    if (s.backwards)
        parts.push_back(
            plural(s.backwards, "record out of time order", "records out of time order"));
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

// The timeline's geometry, in SVG user units.
struct Geometry {
    static constexpr double kWidth = 1100, kLeft = 122, kRight = 1088, kTop = 34, kLane = 22;
    LogTime from, to;
    double x(LogTime t) const {
        const double span = static_cast<double>(to - from);
        return kLeft + (kRight - kLeft) * static_cast<double>(t - from) / span;
    }
};

void axis(std::string& o, const Geometry& g, double bottom) {
    static constexpr LogTime kSteps[] = {900,       1800,      3600,      2 * 3600,  3 * 3600,
                                         6 * 3600,  12 * 3600, kDay,      2 * kDay,  7 * kDay,
                                         14 * kDay, 28 * kDay, 91 * kDay, 365 * kDay};
    const LogTime span = g.to - g.from;
    LogTime step = kSteps[std::size(kSteps) - 1];
    for (LogTime s : kSteps) {
        if (span / s <= 12) {
            step = s;
            break;
        }
    }
    LogTime t = (g.from / step) * step;
    if (t < g.from) t += step;
    for (; t <= g.to; t += step) {
        const std::string x = num(g.x(t));
        o += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"18\" y2=\"" +
             num(bottom) + "\"/>";
        const std::string label =
            step < kDay ? clockText(t) : dayText(t).substr(4, dayText(t).size() - 9);
        o += "<text class=\"tick\" x=\"" + x + "\" y=\"13\">" + label + "</text>";
    }
}

void timeline(std::string& o, const NightFacts& f) {
    const Geometry g{f.from, f.to};
    const std::size_t lanes = std::max<std::size_t>(f.units.size(), 1);
    const double lanesBottom = Geometry::kTop + Geometry::kLane * static_cast<double>(lanes);
    const double noiseTop = lanesBottom + 6;
    const double height = noiseTop + 16;
    o += "<svg class=\"timeline\" viewBox=\"0 0 1100 " + num(height) +
         "\" role=\"img\" aria-label=\"Timeline of the units\" "
         "xmlns=\"http://www.w3.org/2000/svg\">";
    for (std::size_t i = 0; i < f.units.size(); ++i) {
        o += "<rect class=\"band" + std::string(i % 2 ? " odd" : "") + "\" x=\"0\" y=\"" +
             num(Geometry::kTop + Geometry::kLane * static_cast<double>(i)) +
             "\" width=\"1100\" height=\"" + num(Geometry::kLane) + "\"/>";
    }
    axis(o, g, noiseTop + 12);

    double y = Geometry::kTop;
    if (f.units.empty()) {
        o += "<text class=\"none\" x=\"" + num(Geometry::kLeft + 8) + "\" y=\"" + num(y + 15) +
             "\">No unit activity in this stretch</text>";
    }
    for (const UnitNight& u : f.units) {
        const std::string name = latin1Html(u.name);
        const std::string shortName =
            latin1Html(u.name.size() > 15 ? u.name.substr(0, 14) : u.name) +
            (u.name.size() > 15 ? "\xE2\x80\xA6" : "");
        o += "<g class=\"lane\" data-unit=\"" + name + "\">";
        o += "<text class=\"unit\" x=\"6\" y=\"" + num(y + 15) + "\"><title>" + name + "</title>" +
             shortName + "</text>";
        for (const ShowBar& b : u.shows) {
            const double x1 = g.x(b.start), x2 = std::max(g.x(b.end), x1 + 1.5);
            o += "<rect class=\"show " + std::string(endClass(b.how)) +
                 (b.startSeen ? "" : " guessed") + "\" x=\"" + num(x1) + "\" y=\"" + num(y + 5) +
                 "\" width=\"" + num(x2 - x1) + "\" height=\"12\" rx=\"2\"><title>" + name +
                 ": show " + (b.startSeen ? "started " : "began about ") + secondsText(b.start) +
                 ", " + std::string(endName(b.how)) + ' ' + secondsText(b.end) + " (" +
                 durationText(b.end - b.start) + ")</title></rect>";
            if (b.interlock) {
                o += "<path class=\"interlock\" d=\"M" + num(x1 - 4) + ' ' + num(y + 1) +
                     "h8l-4 5z\"/>";
            }
        }
        for (const FailureMark& m : f.failures) {
            if (m.unit != u.name) continue;
            const double x = g.x(m.time);
            const bool left = x > Geometry::kRight - 110;
            o += "<g class=\"fail\" data-time=\"" + isoText(m.time) + "\"><title>" +
                 latin1Html(m.record) + "</title>";
            o += "<line x1=\"" + num(x) + "\" x2=\"" + num(x) + "\" y1=\"" + num(y + 1) +
                 "\" y2=\"" + num(y + Geometry::kLane - 1) + "\"/>";
            o += "<path d=\"M" + num(x) + ' ' + num(y + 5) + "l6 6-6 6-6-6z\"/>";
            // Past a few dozen the labels would only hide each other; the
            // marks keep their hover text and the list below says it all.
            if (f.failures.size() <= kLabelledFailures) {
                o += "<text x=\"" + num(left ? x - 8 : x + 8) + "\" y=\"" + num(y + 15) + "\"" +
                     (left ? " text-anchor=\"end\"" : "") + '>' + latin1Html(m.cause) + ' ' +
                     latin1Html(m.clock.empty() ? "?" : m.clock) + "</text>";
            }
            o += "</g>";
        }
        o += "</g>";
        y += Geometry::kLane;
    }

    for (const PanicMark& p : f.panics) {
        const std::string x = num(g.x(p.time));
        o += "<g class=\"panic\" data-time=\"" + isoText(p.time) + "\"><title>" +
             latin1Html(p.record) +
             (p.count > 1 ? " (" + std::to_string(p.count) + " panic stop records to " +
                                secondsText(p.last) + ")"
                          : "") +
             "</title><line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"26\" y2=\"" + num(lanesBottom) +
             "\"/><path d=\"M" + num(g.x(p.time) - 5) + " 19h10l-5 8z\"/></g>";
    }

    o += "<g class=\"noise\"><text class=\"unit\" x=\"6\" y=\"" + num(noiseTop + 10) +
         "\">noise</text><rect class=\"strip\" x=\"" + num(Geometry::kLeft) + "\" y=\"" +
         num(noiseTop) + "\" width=\"" + num(Geometry::kRight - Geometry::kLeft) +
         "\" height=\"12\"/>";
    const std::uint32_t most =
        f.noiseBins.empty() ? 0 : *std::max_element(f.noiseBins.begin(), f.noiseBins.end());
    const double binWidth = (Geometry::kRight - Geometry::kLeft) / static_cast<double>(kNoiseBins);
    const LogTime span = f.to - f.from;
    for (std::size_t i = 0; i < f.noiseBins.size(); ++i) {
        if (f.noiseBins[i] == 0) continue;
        const double level = 0.2 + 0.8 * std::log1p(f.noiseBins[i]) / std::log1p(most);
        const LogTime b0 =
            f.from + static_cast<LogTime>(i) * span / static_cast<LogTime>(kNoiseBins);
        const LogTime b1 =
            f.from + static_cast<LogTime>(i + 1) * span / static_cast<LogTime>(kNoiseBins);
        o += "<rect class=\"n\" x=\"" + num(Geometry::kLeft + binWidth * static_cast<double>(i)) +
             "\" y=\"" + num(noiseTop) + "\" width=\"" + num(binWidth + 0.3) +
             "\" height=\"12\" fill-opacity=\"" + num(level) + "\"><title>" +
             plural(f.noiseBins[i], "noise record", "noise records") + ' ' + clockText(b0) +
             "\xE2\x80\x93" + clockText(b1) + "</title></rect>";
    }
    o += "</g></svg>";
}

void unitTable(std::string& o, const NightFacts& f) {
    o += "<table class=\"units\"><thead><tr><th>Unit</th><th>Shows started</th><th>in "
         "interlock</th><th>Features ended</th><th>Stopped and ready</th><th>Failures</th>"
         "<th>Longest show</th></tr></thead><tbody>";
    for (const UnitNight& u : f.units) {
        std::string causes;
        for (const auto& [cause, n] : u.failures) {
            causes += (causes.empty() ? "" : ", ") + latin1Html(cause) + ' ' + std::to_string(n);
        }
        o += std::string("<tr") + (u.failures.empty() ? "" : " class=\"bad\"") + "><td>" +
             latin1Html(u.name) + "</td><td>" + std::to_string(u.started) + "</td><td>" +
             std::to_string(u.startedInterlock) + "</td><td>" + std::to_string(u.featureEnded) +
             "</td><td>" + std::to_string(u.stoppedReady) + "</td><td>" +
             (causes.empty() ? "0" : causes) + "</td><td>" +
             (u.longestShow < 0 ? "\xE2\x80\x93" : durationText(u.longestShow)) + "</td></tr>";
    }
    o += "</tbody></table>";
}

void eventList(std::string& o, const NightFacts& f) {
    constexpr std::size_t kPrinted = 16;
    std::size_t i = 0, j = 0, n = 0;
    o += "<ol class=\"events\">";
    while (i < f.failures.size() || j < f.panics.size()) {
        const bool fail = j >= f.panics.size() ||
                          (i < f.failures.size() && f.failures[i].time <= f.panics[j].time);
        std::string cls = fail ? "fail" : "panic";
        if (n++ >= kPrinted) cls += " more";
        const LogTime at = fail ? f.failures[i].time : f.panics[j].time;
        // A night needs no dates; a longer stretch does.
        const std::string when =
            f.to - f.from > kDay ? dayText(at).substr(4) + ' ' + secondsText(at) : secondsText(at);
        o += "<li class=\"" + cls + "\"><time>" + when + "</time> ";
        if (fail) {
            const FailureMark& m = f.failures[i++];
            o += "<b>" + latin1Html(m.unit) + "</b> failed" + (m.interlock ? " in interlock" : "") +
                 ": " + latin1Html(m.cause) + ", " + latin1Html(m.clock.empty() ? "?" : m.clock) +
                 " into the show";
        } else {
            const PanicMark& p = f.panics[j++];
            o += "<b>PANIC STOP</b>" + (p.count > 1 ? " (" + std::to_string(p.count) +
                                                          " records to " + secondsText(p.last) + ")"
                                                    : std::string());
        }
        o += "</li>";
    }
    o += "</ol>";
    if (n == 0) o += "<p class=\"quiet\">None.</p>";
    if (n > kPrinted) {
        o += "<p class=\"printnote\">" + std::to_string(n - kPrinted) +
             " more on the screen copy of this page and in --json.</p>";
    }
    const std::uint64_t unlisted = (f.failureCount - f.failures.size()) + (f.panicCount - [&] {
                                       std::uint64_t k = 0;
                                       for (const auto& p : f.panics) k += p.count;
                                       return k;
                                   }());
    if (unlisted) o += "<p>" + std::to_string(unlisted) + " more counted, not listed.</p>";
}

void notRead(std::string& o, const LogReadStats& s) {
    if (s.notRead == 0 && s.torn.empty() && s.unclosed == 0 && s.backwards == 0) return;
    o += "<section class=\"damage\"><h2>Not read</h2><p>" + damageText(s) + ".</p><ul>";
    for (const LogLine& l : s.torn) {
        o += "<li>Torn last record, " + utf8Html(fileName(l.source)) + " line " +
             std::to_string(l.lineNumber) + ": <code>" + latin1Html(l.text) + "</code></li>";
    }
    for (const LogLine& l : s.firstNotRead) {
        o += "<li>" + utf8Html(fileName(l.source)) + " line " + std::to_string(l.lineNumber) +
             ": <code>" + latin1Html(l.text) + "</code></li>";
    }
    o += "</ul></section>";
}

constexpr std::string_view kStyle = R"(<style>
@page { size: A4 landscape; margin: 8mm; }
* { box-sizing: border-box; }
body { font: 13px/1.35 "Liberation Sans", Arial, Helvetica, sans-serif; color: #111;
  background: #fff; margin: 12px auto; max-width: 1120px; padding: 0 12px; }
header { display: flex; flex-wrap: wrap; align-items: baseline; gap: 4px 18px; }
h1 { font-size: 20px; margin: 0; }
h2 { font-size: 14px; margin: 10px 0 4px; }
.night { color: #333; }
.verdict { font-weight: bold; font-size: 17px; padding: 2px 10px; border-radius: 4px; color: #fff; }
.verdict.clear { background: #2e7d32; } .verdict.bad { background: #c62828; }
.verdict.none { background: #757575; }
.damaged { flex-basis: 100%; color: #b71c1c; margin: 0; }
.timeline { display: block; width: 100%; height: auto; margin-top: 6px; }
.timeline text { font-size: 11px; fill: #222; }
.timeline .tick { text-anchor: middle; fill: #555; font-size: 10px; }
.timeline .grid { stroke: #ddd; stroke-width: 1; }
.timeline .band { fill: #fafafa; }
.timeline .band.odd { fill: #efefef; }
.timeline .unit { font-weight: bold; }
.show { stroke: #0003; stroke-width: 0.5; }
.show.ended { fill: #43a047; } .show.stopped { fill: #1e88e5; } .show.failed { fill: #e53935; }
.show.restarted { fill: #9e9e9e; } .show.open { fill: #ffb300; stroke: #8d6e00; stroke-dasharray: 3 2; }
.show.guessed { fill-opacity: 0.55; }
.interlock { fill: #6a1b9a; }
.fail line { stroke: #7f0000; stroke-width: 2; } .fail path { fill: #7f0000; stroke: #fff; stroke-width: 1; }
.timeline .fail text { fill: #7f0000; font-size: 10px; font-weight: bold; paint-order: stroke;
  stroke: #fff; stroke-width: 3px; }
.panic line { stroke: #e65100; stroke-width: 1.5; stroke-dasharray: 4 2; } .panic path { fill: #e65100; }
.noise .strip { fill: #fff; stroke: #ccc; } .noise .n { fill: #6d4c41; }
.legend { display: flex; flex-wrap: wrap; gap: 2px 14px; font-size: 12px; margin: 2px 0 0 11%; }
.legend i { display: inline-block; width: 18px; height: 10px; border-radius: 2px; margin-right: 4px;
  vertical-align: -1px; }
.cols { display: flex; gap: 18px; align-items: flex-start; }
.cols > section { flex: 1 1 0; min-width: 0; }
.cols > section.unitcol { flex: 1.5 1 0; }
table { border-collapse: collapse; width: 100%; font-size: 12px; }
th, td { padding: 2px 6px; border-bottom: 1px solid #ddd; text-align: right; }
td { white-space: nowrap; }
th { background: #eee; font-weight: 600; vertical-align: bottom; }
td:first-child { white-space: normal; word-break: break-all; max-width: 14em; }
th:first-child, td:first-child { text-align: left; }
tr.bad td { color: #b71c1c; font-weight: bold; }
ol.events { margin: 0; padding-left: 22px; font-size: 12px; }
ol.events time { font-variant-numeric: tabular-nums; color: #333; margin-right: 4px; }
li.fail { color: #b71c1c; } li.panic { color: #e65100; }
.printnote { display: none; }
.damage { color: #b71c1c; font-size: 12px; }
.damage code { color: #111; background: #f4f4f4; white-space: pre-wrap; word-break: break-all; }
footer { margin-top: 10px; font-size: 11px; color: #555; }
@media print {
  body { margin: 0; max-width: none; padding: 0; font-size: 10px; }
  h1 { font-size: 16px; } .verdict { font-size: 14px; }
  .timeline { max-height: 112mm; }
  table, ol.events, .legend { font-size: 9.5px; }
  th, td { padding: 1px 4px; }
  li.more { display: none; }
  .printnote { display: block; font-size: 9px; }
  .damage ul { margin: 0; } .damage li:nth-child(n+4) { display: none; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
</style>)";

}  // namespace

std::string renderHtml(const ReportInput& in) {
    const NightFacts& f = in.facts;
    const std::string title =
        in.title.empty() ? std::string("KX-40 night report") : utf8Html(in.title);
    const bool isNight = f.to - f.from == kDay && f.from % kDay == kNoon;
    const std::string when = isNight ? "Night of " + dayText(f.from) + ", 12:00 to 12:00"
                                     : "From " + secondsText(f.from).substr(0, 5) + ' ' +
                                           dayText(f.from) + " to " +
                                           secondsText(f.to).substr(0, 5) + ' ' + dayText(f.to);
    const std::string v = verdict(f);
    const std::string vClass = f.empty ? "none" : f.allClear() ? "clear" : "bad";

    std::string o;
    o.reserve(64 * 1024);
    o += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
         "'unsafe-inline'\">\n<title>" +
         title + " \xE2\x80\x93 " + when + "</title>\n";
    o += kStyle;
    o += "\n</head><body>\n<header><h1>" + title + "</h1><span class=\"night\">" + when +
         "</span><span class=\"verdict " + vClass + "\" id=\"verdict\">" + v + "</span>";
    const std::string damage = damageText(in.read);
    if (!damage.empty()) o += "<p class=\"damaged\">Log damaged: " + damage + " (see below).</p>";
    o += "</header>\n";
    timeline(o, f);
    o += "\n<div class=\"legend\"><span><i style=\"background:#43a047\"></i>feature ended</span>"
         "<span><i style=\"background:#1e88e5\"></i>stopped and ready</span>"
         "<span><i style=\"background:#e53935\"></i>failed</span>"
         "<span><i style=\"background:#9e9e9e\"></i>started again</span>"
         "<span><i style=\"background:#ffb300\"></i>no end in the log</span>"
         "<span style=\"color:#6a1b9a\">\xE2\x96\xBC started in interlock</span>"
         "<span style=\"color:#7f0000\">\xE2\x97\x86 failure: cause, show time</span>"
         "<span style=\"color:#e65100\">\xE2\x94\x86 panic stop</span></div>\n";
    o += "<div class=\"cols\"><section class=\"unitcol\"><h2>Units</h2>";
    unitTable(o, f);
    o += "</section><section><h2>Failures and panic stops</h2>";
    eventList(o, f);
    o += "</section></div>\n";
    notRead(o, in.read);
    o += "<footer>" + plural(f.records, "record", "records") +
         " in this stretch: " + plural(f.noiseRecords, "noise record", "noise records") + ", " +
         plural(f.rawBlocks, "raw block", "raw blocks") + " (counted, not drawn), " +
         plural(f.quickSaves, "quick save", "quick saves") + ". Read " +
         plural(in.read.recordCount(), "record", "records") + " in " +
         plural(in.read.lines, "line", "lines") + '.';
    if (f.lastRecord)
        o += " Last record " + secondsText(*f.lastRecord) + ' ' + dayText(*f.lastRecord) + '.';
    o += "</footer>\n</body></html>\n";
    return o;
}

std::string renderJson(const ReportInput& in) {
    const NightFacts& f = in.facts;
    const LogReadStats& s = in.read;
    auto str = [](std::string_view latin1) { return '"' + jsonEscape(latin1) + '"'; };
    auto line = [&](const LogLine& l) {
        return "{\"source\":\"" + utf8Json(fileName(l.source)) +
               "\",\"line\":" + std::to_string(l.lineNumber) + ",\"text\":" + str(l.text) + '}';
    };
    std::string o = "{\n";
    o += "  \"title\": \"" + utf8Json(in.title) + "\",\n";
    o += "  \"from\": \"" + isoText(f.from) + "\",\n";
    o += "  \"to\": \"" + isoText(f.to) + "\",\n";
    o += "  \"verdict\": \"" + verdict(f) + "\",\n";
    o += "  \"summary\": {\"records\": " + std::to_string(f.records) +
         ", \"failures\": " + std::to_string(f.failureCount) +
         ", \"panicStops\": " + std::to_string(f.panicBursts) +
         ", \"panicStopRecords\": " + std::to_string(f.panicCount) +
         ", \"noiseRecords\": " + std::to_string(f.noiseRecords) +
         ", \"rawBlocks\": " + std::to_string(f.rawBlocks) +
         ", \"quickSaves\": " + std::to_string(f.quickSaves) + "},\n";
    o += "  \"units\": [";
    for (std::size_t i = 0; i < f.units.size(); ++i) {
        const UnitNight& u = f.units[i];
        o += i ? ",\n    " : "\n    ";
        o += "{\"name\": " + str(u.name) + ", \"started\": " + std::to_string(u.started) +
             ", \"startedInInterlock\": " + std::to_string(u.startedInterlock) +
             ", \"featureEnded\": " + std::to_string(u.featureEnded) +
             ", \"stoppedAndReady\": " + std::to_string(u.stoppedReady) + ", \"failures\": {";
        bool first = true;
        for (const auto& [cause, n] : u.failures) {
            o += (first ? "" : ", ") + str(cause) + ": " + std::to_string(n);
            first = false;
        }
        o += "}, \"longestShow\": " +
             (u.longestShow < 0 ? std::string("null") : '"' + durationText(u.longestShow) + '"') +
             '}';
    }
    o += f.units.empty() ? "],\n" : "\n  ],\n";
    o += "  \"failures\": [";
    for (std::size_t i = 0; i < f.failures.size(); ++i) {
        const FailureMark& m = f.failures[i];
        o += i ? ",\n    " : "\n    ";
        o += "{\"time\": \"" + isoText(m.time) + "\", \"unit\": " + str(m.unit) +
             ", \"cause\": " + str(m.cause) +
             ", \"interlock\": " + (m.interlock ? "true" : "false") +
             ", \"showTime\": " + str(m.clock) + '}';
    }
    o += f.failures.empty() ? "],\n" : "\n  ],\n";
    o += "  \"panicStops\": [";
    for (std::size_t i = 0; i < f.panics.size(); ++i) {
        o += i ? ",\n    " : "\n    ";
        o += "{\"time\": \"" + isoText(f.panics[i].time) + "\", \"last\": \"" +
             isoText(f.panics[i].last) + "\", \"count\": " + std::to_string(f.panics[i].count) +
             '}';
    }
    o += f.panics.empty() ? "],\n" : "\n  ],\n";
    o += "  \"input\": {\"bytes\": " + std::to_string(s.bytes) +
         ", \"lines\": " + std::to_string(s.lines) +
         ", \"records\": " + std::to_string(s.recordCount()) +
         ", \"rawBytes\": " + std::to_string(s.rawBytes) +
         ", \"notRead\": " + std::to_string(s.notRead) +
         ", \"recordsCutShort\": " + std::to_string(s.unclosed) +
         ", \"outOfTimeOrder\": " + std::to_string(s.backwards) + ",\n    \"firstNotRead\": [";
    for (std::size_t i = 0; i < s.firstNotRead.size(); ++i)
        o += (i ? ", " : "") + line(s.firstNotRead[i]);
    o += "],\n    \"torn\": [";
    for (std::size_t i = 0; i < s.torn.size(); ++i) o += (i ? ", " : "") + line(s.torn[i]);
    o += "]}\n}\n";
    return o;
}

}  // namespace lw
