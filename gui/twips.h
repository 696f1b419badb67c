#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

namespace lw::gui {

// Positions and sizes are given in twips (1/1440 inch).
inline int twips(int tw, const QWidget* w) {
    const int dpi = w ? w->logicalDpiX() : 96;
    return (tw * dpi + 720) / 1440;
}
inline int fromPixels(int px, const QWidget* w) {
    const int dpi = w ? w->logicalDpiX() : 96;
    return dpi ? px * 1440 / dpi : px * 15;
}
inline QRect twipsRect(int left, int top, int width, int height, const QWidget* w) {
    return {twips(left, w), twips(top, w), twips(width, w), twips(height, w)};
}
inline QSize twipsSize(int width, int height, const QWidget* w) {
    return {twips(width, w), twips(height, w)};
}

}  // namespace lw::gui
