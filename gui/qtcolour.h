#pragma once

#include <QColor>
#include <QPalette>

#include "core/colour.h"

namespace lw::gui {

// A board colour as the window paints it: RGB as it is, a system colour
// role from the palette.
QColor toQColor(const Colour& c, const QPalette& palette);

}  // namespace lw::gui
