#include "gui/keyboard.h"

#include <QKeyEvent>
#include <QPushButton>

namespace lw::gui {

namespace {

// A button ignores Enter unless it is a dialog's default candidate; being
// one would let Enter in a combo box press it.
class EnterPresses final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const auto* k = static_cast<QKeyEvent*>(e);
        const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
        if (!enter || (k->modifiers() & ~Qt::KeypadModifier)) return false;
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
};

}  // namespace

void pressOnEnter(QPushButton* button) {
    button->setAutoDefault(false);
    button->setDefault(false);
    button->installEventFilter(new EnterPresses(button));
}

void focusForKeys(QWidget* w) {
    w->setFocus(Qt::TabFocusReason);
    // The styles draw a focus frame only once the keyboard has moved the focus.
    w->window()->setAttribute(Qt::WA_KeyboardFocusChange);
    w->update();
}

}  // namespace lw::gui
