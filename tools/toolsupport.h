#pragma once

#include <csignal>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "core/textutil.h"

namespace lw::tools {

// Set by SIGINT or SIGTERM; the tools' timers look at it and stop cleanly.
inline volatile std::sig_atomic_t g_stop = 0;

inline void onStopSignal(int) { g_stop = 1; }

inline void installStopHandlers() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

// A bad command line: the reason, then the usage, and exit status 2.
inline int usageError(std::string_view tool, std::string_view msg, std::string_view usage) {
    std::cerr << tool << ": " << msg << "\n" << usage;
    return 2;
}

// At most 15 digits, so seconds can still be turned into milliseconds.
inline std::optional<std::int64_t> wholeNumber(std::string_view s) {
    std::int64_t v = 0;
    if (s.size() > 15 || !parseDecimal(s, v)) return std::nullopt;
    return v;
}

}  // namespace lw::tools
