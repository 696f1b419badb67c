#include "gui/qtcolour.h"

namespace lw::gui {

QColor toQColor(const Colour& c, const QPalette& p) {
    switch (c.system) {
        case SystemColour::None:
            return QColor(c.r, c.g, c.b);
        case SystemColour::WindowText:
            return p.color(QPalette::WindowText);
        case SystemColour::Highlight:
            return p.color(QPalette::Highlight);
        case SystemColour::Window:
            return p.color(QPalette::Window);
        case SystemColour::WindowFrame:
            return p.color(QPalette::WindowText);
        case SystemColour::CaptionText:
            return p.color(QPalette::HighlightedText);
        case SystemColour::HighlightText:
            return p.color(QPalette::HighlightedText);
        case SystemColour::ButtonText:
            return p.color(QPalette::ButtonText);
    }
    return {};
}

}  // namespace lw::gui
