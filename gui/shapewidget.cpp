#include "gui/shapewidget.h"

#include <QPainter>
#include <algorithm>

namespace lw::gui {

ShapeWidget::ShapeWidget(Kind kind, QWidget* parent) : QWidget(parent), m_kind(kind) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShapeWidget::setFill(const QColor& c) {
    if (c == m_fill) return;
    m_fill = c;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(m_fill);
    const qreal r = std::min(width(), height()) / 8.0;
    switch (m_kind) {
        case Kind::Panel:
            p.setPen(QPen(Qt::black, 3));
            p.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), r, r);
            break;
        case Kind::Bar:
            p.setPen(Qt::NoPen);
            p.drawRoundedRect(rect(), r, r);
            break;
        case Kind::Circle: {
            // A circle, not an ellipse: as wide as the box's smaller side, centred.
            const qreal d = std::min(width(), height()) - 1.0;
            p.setPen(QPen(Qt::black, 1));
            p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
            break;
        }
    }
}

}  // namespace lw::gui
