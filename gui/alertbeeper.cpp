#include "gui/alertbeeper.h"

#include <QApplication>

namespace lw::gui {

void AlertBeeper::beep() { QApplication::beep(); }

}  // namespace lw::gui
