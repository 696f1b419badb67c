#include "core/colour.h"

namespace lw {

std::string Colour::text() const {
    switch (system) {
        case SystemColour::None:
            break;
        case SystemColour::WindowText:
            return "windowtext";
        case SystemColour::Highlight:
            return "highlight";
        case SystemColour::Window:
            return "window";
        case SystemColour::WindowFrame:
            return "windowframe";
        case SystemColour::CaptionText:
            return "captiontext";
        case SystemColour::HighlightText:
            return "highlighttext";
        case SystemColour::ButtonText:
            return "buttontext";
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string out = "#";
    for (std::uint8_t v : {r, g, b}) {
        out += digits[v >> 4];
        out += digits[v & 0x0F];
    }
    return out;
}

}  // namespace lw
