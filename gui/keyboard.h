#pragma once

class QPushButton;
class QWidget;

namespace lw::gui {

// Keys in the dialogs, which have no default button.

// Enter and keypad Enter press `button` while it has the focus, as Space
// does; with the focus anywhere else they press nothing.
void pressOnEnter(QPushButton* button);

// Puts the focus on `w` with its focus frame drawn at once, as after a Tab,
// so a keyboard user sees where the keys go before the first key.
void focusForKeys(QWidget* w);

}  // namespace lw::gui
