#include "core/monitoroptions.h"

#include "core/namesfile.h"

namespace lw {

LogOptions MonitorOptions::logOptions() const {
    LogOptions o;
    o.rawdata = raw ? 1 : 0;
    o.busnoise = noise ? 1 : 0;
    o.unitactivity = activity ? 1 : 0;
    o.logpath = logPath;
    return o;
}

SessionDeps fixedSessionDeps(const MonitorOptions& options, std::string version, BusInput& port,
                             TimeSource& time, Beeper& beeper, LogSink& sink) {
    // Without a path nothing is written, and nothing counts as left out.
    static DiscardLogSink discard;
    return SessionDeps{
        .port = port,
        .time = time,
        .beeper = beeper,
        .sink = options.logPath.empty() ? static_cast<LogSink&>(discard) : sink,
        .logOptions = [log = options.logOptions()] { return log; },
        .versionChoice = [version = std::move(version)] { return version; },
        .names = [path = options.namesPath](UnitNames& captions) {
            if (path.empty() || readNamesFile(path, captions)) return Result<>{};
            return Result<>::failure("cannot read the unit names from " + path +
                                     "; the units are numbered");
        }};
}

}  // namespace lw
