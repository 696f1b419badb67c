#include "core/timesource.h"

namespace lw {

std::string secondsOfTime(std::string_view t) {
    if (t.size() < 4) return {};
    const auto colon = t.find(':', 3);
    if (colon == std::string_view::npos) return {};
    return std::string(t.substr(colon + 1, 2));
}

TimeSource::Stamp stampOf(std::string timeText, std::string dateText) {
    std::string seconds = secondsOfTime(timeText);
    return {std::move(timeText), std::move(dateText), std::move(seconds)};
}

}  // namespace lw
