#pragma once

#include <csignal>
#include <cstdint>
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
