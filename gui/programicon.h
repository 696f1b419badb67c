#pragma once

#include <QIcon>

namespace lw::gui {

// The program's own icon, the one the package installs.
QIcon programIcon();

}  // namespace lw::gui
