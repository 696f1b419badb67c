#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "tools/replay.h"

namespace lw {

inline constexpr std::string_view kReplayName = "linewarden-replay";

// The replay tool's command line: the capture, the monitor options, where
// the board goes and when the run stops.
struct ReplayLine : ReplayOptions {
    std::string capturePath;
    std::string boardPath;     // "-": standard output; empty: none
    std::string eventsPath;    // the same, for the unit and bus events
    std::string retainedPath;  // the same, for the retained documents
};

// Reads the line (without the program name); --help and --version are the
// caller's.
Result<ReplayLine> readReplayLine(const std::vector<std::string>& args);

// Generated from the option table.
const std::string& replayUsage();

}  // namespace lw
