#include "gui/programicon.h"

namespace lw::gui {

QIcon programIcon() { return QIcon(QStringLiteral(":/linewarden.svg")); }

}  // namespace lw::gui
