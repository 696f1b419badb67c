#include "core/busprotocol.h"

#include <array>
#include <charconv>

namespace lw {

namespace {

constexpr std::array<bool, 256> makeKnownTable() {
    std::array<bool, 256> t{};
    for (char c : kKnownChars) t[static_cast<unsigned char>(c)] = true;
    return t;
}
constexpr auto kKnown = makeKnownTable();

}  // namespace

bool isKnownBusChar(unsigned char c) { return kKnown[c]; }

std::string baudForVersion(std::string_view v) {
    return std::string(v == "HUBQV-2" || v == "KX40QV-2" ? kFastBaud : kSlowBaud);
}

bool singlePVersion(std::string_view v) { return v == "KX40JV-10" || v == "HUB7"; }

std::string lineSettings(std::string_view baud) {
    std::string out(baud);
    out += kLineFrame;
    return out;
}

std::optional<int> parseLineSettings(std::string_view text) {
    if (!text.ends_with(kLineFrame)) return std::nullopt;
    const std::string_view speed = text.substr(0, text.size() - kLineFrame.size());
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
