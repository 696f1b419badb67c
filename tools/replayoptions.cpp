#include "tools/replayoptions.h"

#include "core/commandline.h"
#include "core/textutil.h"

namespace lw {

namespace {

const cli::OptionTable<ReplayLine>& optionTable() {
    static const cli::OptionTable<ReplayLine> table = [] {
        cli::OptionTable<ReplayLine> t;
        addMonitorOptions(t);
        t.push_back(cli::textOption<ReplayLine>(
            "board", "FILE", &ReplayLine::boardPath,
            "one JSON line per decoder tick ('-' for standard output)"));
        t.push_back(cli::textOption<ReplayLine>(
            "events", "FILE", &ReplayLine::eventsPath,
            "one JSON line per unit or bus event ('-' for standard output)"));
        t.push_back(cli::textOption<ReplayLine>(
            "retained", "FILE", &ReplayLine::retainedPath,
            "a line 'unit/N JSON' or 'bus JSON' whenever a unit's or the\n"
            "bus's meaning changes, as MQTT retains them"));
        t.push_back({"until", "MS",
                     "stop after the decoder tick at MS (rounded up to 800;\n"
                     "at most 8640000000, 100 days, as for capture offsets)",
                     [](ReplayLine& o, const std::string& v) {
                         std::int64_t ms = 0;
                         if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos) {
                             return Result<>::failure("--until needs a number of milliseconds");
                         }
                         if (!parseDecimal(v, ms) || ms > kMaxTimelineMs) {
                             return Result<>::failure("--until is at most " +
                                                          std::to_string(kMaxTimelineMs) +
                                                          " ms (100 days)");
                         }
                         o.untilMs = ms;
                         return Result<>{};
                     }});
        return t;
    }();
    return table;
}

}  // namespace

Result<ReplayLine> readReplayLine(const std::vector<std::string>& args) {
    using R = Result<ReplayLine>;
    ReplayLine line;
    bool haveCapture = false;
    const auto given = cli::splitLine<ReplayLine>(args, optionTable(), [&](const std::string& a) {
        if (haveCapture) return Result<>::failure("only one capture file");
        line.capturePath = a;
        haveCapture = true;
        return Result<>{};
    });
    if (!given.ok) return R::failure(given.error);
    const Result<> applied = cli::apply(given.value, line);
    if (!applied.ok) return R::failure(applied.error);
    if (!haveCapture) return R::failure("no capture file");
    return R::success(std::move(line));
}

const std::string& replayUsage() {
    static const std::string text = cli::usageText(
        kReplayName, "CAPTURE [OPTION]...",
        "Runs a bus capture through the monitor on a virtual timeline, as fast as it can;\n"
        "the software version defaults to the capture's.\n",
        optionTable(), "\nExit status: 0 done, 1 records could not be written, 2 bad arguments or capture.\n");
    return text;
}


}  // namespace lw
