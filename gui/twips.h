#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
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

// A control's font as the windows give it: family, points, bold or not.
inline QFont controlFont(const char* family, double points, bool bold = false) {
    QFont f(QString::fromLatin1(family));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// Puts a control on its window: its name, its rectangle in twips on its
// parent and, when given, its font. Every window builder places this way.
template <typename Control>
Control* place(Control* c, const QString& name, int left, int top, int width, int height) {
    c->setObjectName(name);
    c->setGeometry(twipsRect(left, top, width, height, c->parentWidget()));
    return c;
}
template <typename Control>
Control* place(Control* c, const QString& name, int left, int top, int width, int height,
               const QFont& font) {
    place(c, name, left, top, width, height);
    c->setFont(font);
    return c;
}

}  // namespace lw::gui
