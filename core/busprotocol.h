#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lw {

// The line format text "<baud>,n,8,1" with a standard speed; nothing for
// anything else (",n,8,1" with no speed included).
std::optional<int> parseLineSettings(std::string_view text);

// Port numbers a port can be selected by.
inline constexpr int kMinPortNumber = 1;
inline constexpr int kMaxPortNumber = 255;

}  // namespace lw
