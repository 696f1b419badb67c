#pragma once

#include <charconv>
#include <filesystem>
#include <string>
#include <string_view>

namespace lw {

// A path from UTF-8 text, the same on every platform.
inline std::filesystem::path pathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// "07" for 7: two digits, for 0 to 99.
inline std::string twoDigits(int v) {
    return {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

// Decimal digits only, no sign, no blanks; false when empty or too big.
template <typename T>
bool parseDecimal(std::string_view s, T& out) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return std::from_chars(s.data(), s.data() + s.size(), out).ec == std::errc{};
}

// Without the blanks and line ends around it (a token read from a file).
inline std::string trimmed(std::string s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    return s.substr(i);
}

}  // namespace lw
