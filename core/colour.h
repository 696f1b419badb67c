#pragma once

#include <cstdint>
#include <string>

namespace lw {

// Platform system colours the board refers to by role; the window maps each
// to the palette role of the same meaning.
enum class SystemColour : std::uint8_t {
    None,
    WindowText,
    Highlight,
    Window,
    WindowFrame,
    CaptionText,
    HighlightText,
    ButtonText,
};

// A lamp or text colour: either a fixed RGB triple or a system colour role.
struct Colour {
    SystemColour system = SystemColour::None;
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;

    static constexpr Colour rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return Colour{SystemColour::None, r, g, b};
    }
    static constexpr Colour role(SystemColour s) { return Colour{s, 0, 0, 0}; }

    constexpr bool isSystem() const { return system != SystemColour::None; }
    friend constexpr bool operator==(const Colour&, const Colour&) = default;

    // "#rrggbb" in lower case for RGB colours, the role's name for system ones.
    std::string text() const;
};

namespace colours {
inline constexpr Colour black = Colour::rgb(0, 0, 0);
inline constexpr Colour white = Colour::rgb(255, 255, 255);
inline constexpr Colour red = Colour::rgb(255, 0, 0);
inline constexpr Colour darkGreen = Colour::rgb(0, 128, 0);
inline constexpr Colour green = Colour::rgb(0, 255, 0);
inline constexpr Colour blue = Colour::rgb(0, 0, 255);
inline constexpr Colour yellow = Colour::rgb(255, 255, 0);
inline constexpr Colour darkGrey = Colour::rgb(64, 64, 64);
inline constexpr Colour windowText = Colour::role(SystemColour::WindowText);
inline constexpr Colour highlight = Colour::role(SystemColour::Highlight);
}  // namespace colours

}  // namespace lw
