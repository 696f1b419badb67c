#include "core/busprotocol.h"

#include <array>
#include <charconv>

namespace lw {

std::optional<int> parseLineSettings(std::string_view text) {
    constexpr std::string_view kFrame = ",n,8,1";
    if (!text.ends_with(kFrame)) return std::nullopt;
    const std::string_view speed = text.substr(0, text.size() - kFrame.size());
    if (speed.empty()) return std::nullopt;
    int baud = 0;
    const auto r = std::from_chars(speed.data(), speed.data() + speed.size(), baud);
    if (r.ec != std::errc{} || r.ptr != speed.data() + speed.size()) return std::nullopt;
    constexpr std::array<int, 12> kSpeeds{110,  300,   600,   1200,  2400,  4800,
                                          9600, 14400, 19200, 38400, 57600, 115200};
    for (int s : kSpeeds) {
        if (s == baud) return baud;
    }
    return std::nullopt;
}

}  // namespace lw
