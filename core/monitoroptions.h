#pragma once

#include <optional>
#include <string>

#include "core/commandline.h"
#include "core/logoptions.h"
#include "core/monitorsession.h"

namespace lw {

// What a monitor run without windows is told: the replay tool and the
// service read these from the same option rows.
struct MonitorOptions {
    std::optional<std::string> softwareVersion;  // kept exactly, blanks included
    std::string logPath;                         // empty: records go nowhere
    bool raw = false;
    bool noise = false;
    bool activity = false;
    std::string namesPath;  // read only, never written; empty: numbered units

    // The flags as the options dialog's check states.
    LogOptions logOptions() const;
};

// The rows of the monitor options, for a program whose options extend them.
template <class Options>
void addMonitorOptions(cli::OptionTable<Options>& table) {
    table.push_back({"software-version", "TEXT",
                     "the bus equipment's version (default HUBQV-2); it sets\n"
                     "the speed (4800 for HUBQV-2 and KX40QV-2, else 1200)",
                     [](Options& o, const std::string& v) {
                         o.softwareVersion = v;
                         return Result<>{};
                     }});
    table.push_back(cli::textOption<Options>("log", "FILE", &Options::logPath,
                                             "appends the activity records to FILE"));
    table.push_back(cli::flagOption<Options>("raw", &Options::raw, "logs the raw blocks"));
    table.push_back(cli::flagOption<Options>("noise", &Options::noise, "logs the bus noise"));
    table.push_back(cli::flagOption<Options>("activity", &Options::activity,
                                             "logs unit activity and panic stops"));
    table.push_back(cli::textOption<Options>("names", "FILE", &Options::namesPath,
                                             "reads the unit names file (never writes it)"));
}

// The session of a run from fixed options: the log options and the version
// as given, the names file read only. `sink` takes the records only when a
// log path is given. The names load fails with a sentence when the file
// cannot be read; the units stay numbered.
SessionDeps fixedSessionDeps(const MonitorOptions& options, std::string version, BusInput& port,
                             TimeSource& time, Beeper& beeper, LogSink& sink);

}  // namespace lw
