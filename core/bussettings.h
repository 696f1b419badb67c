#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lw {

// "4800" for exactly "HUBQV-2" or "KX40QV-2", "1200" for any other text.
std::string baudForVersion(std::string_view versionChoice);

// The port number a port choice text stands for: its numeric value read from
// the start (blanks, tabs and line feeds ignored anywhere; &H and &O prefixes;
// exponents), rounded to the nearest integer with halves to even. Nothing
// when the value lies outside the 16-bit range: no port can be opened then.
std::optional<std::int16_t> portNumberFromText(std::string_view text);

// The numeric value itself, as the conversion reads it.
double numericValue(std::string_view text);

}  // namespace lw
