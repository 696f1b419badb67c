#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lw {

// The port number a port choice text stands for: its numeric value read from
// the start (blanks, tabs and line feeds ignored anywhere; &H and &O prefixes;
// exponents), rounded to the nearest integer with halves to even. Nothing
// when the value lies outside the 16-bit range: no port can be opened then.
std::optional<std::int16_t> portNumberFromText(std::string_view text);

// The numeric value itself, as the conversion reads it.
double numericValue(std::string_view text);

}  // namespace lw
