#pragma once

#include <QColor>
#include <QWidget>

namespace lw::gui {

// A lamp: a filled rectangle with radiused corners, or a circle.
class ShapeWidget final : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Panel, Bar, Circle };
    ShapeWidget(Kind kind, QWidget* parent);
    void setFill(const QColor& c);
    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Kind m_kind;
    QColor m_fill = Qt::black;
};

}  // namespace lw::gui
