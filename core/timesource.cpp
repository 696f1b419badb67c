#include "core/timesource.h"

namespace lw {

std::string secondsOfTime(std::string_view t) {
    if (t.size() < 4) return {};
    const auto colon = t.find(':', 3);
    if (colon == std::string_view::npos) return {};
    return std::string(t.substr(colon + 1, 2));
}

std::string TimeSource::secondsText() { return secondsOfTime(timeText()); }

}  // namespace lw
