#pragma once

#include <csignal>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

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

inline std::optional<std::int64_t> wholeNumber(std::string_view s) {
    if (s.empty() || s.size() > 15) return std::nullopt;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace lw::tools
