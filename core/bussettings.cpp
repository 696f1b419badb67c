#include "core/bussettings.h"

#include <charconv>
#include <cmath>

namespace lw {

namespace {

bool ignored(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// &H and &O values: up to a 16-bit width they are signed 16-bit values, up
// to 32 bits signed 32-bit ones; wider ones cannot be read.
std::optional<double> radixValue(std::string_view digits, int radix) {
    std::uint64_t v = 0;
    std::size_t n = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (radix == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (radix == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0 || d >= radix) break;
        v = v * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
        if (v > 0xFFFFFFFFull) return std::nullopt;
        ++n;
    }
    if (n == 0) return 0.0;
    if (v <= 0xFFFF && (radix == 16 ? n <= 4 : n <= 6)) {
        return static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)));
    }
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
}

std::optional<double> readValue(std::string_view text) {
    std::string s;
    for (char c : text) {
        if (!ignored(c)) s += c;
    }
    if (s.size() >= 2 && s[0] == '&') {
        if (s[1] == 'H' || s[1] == 'h') return radixValue(std::string_view(s).substr(2), 16);
        if (s[1] == 'O' || s[1] == 'o') return radixValue(std::string_view(s).substr(2), 8);
    }
    // Sign, digits, a point, digits, then an exponent (E or D) if digits follow.
    std::size_t i = 0;
    std::string num;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) num += s[i++];
    bool any = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') num += s[i++], any = true;
    if (i < s.size() && s[i] == '.') {
        num += s[i++];
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') num += s[i++], any = true;
    }
    if (!any) return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp += s[j++];
        std::size_t digits = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') exp += s[j++], ++digits;
        if (digits > 0) num += exp;
    }
    if (num.front() == '+') num.erase(0, 1);
    double v = 0;
    const auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    if (r.ec == std::errc::result_out_of_range) return std::nullopt;
    return v;
}

}  // namespace

double numericValue(std::string_view text) { return readValue(text).value_or(HUGE_VAL); }

std::optional<std::int16_t> portNumberFromText(std::string_view text) {
    const auto v = readValue(text);
    if (!v || !std::isfinite(*v)) return std::nullopt;
    const double r = std::nearbyint(*v);  // the default rounding: halves to even
    if (r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<std::int16_t>(r);
}

}  // namespace lw
