#pragma once

// A core header that reaches for Qt and a window: the layers check must refuse it.
#include <QString>

#include "gui/form1.h"
