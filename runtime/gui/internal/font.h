// The font library's wiring.
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/gui/gui.h"

// Vertical resolution of the screen in dots per inch, 96 without a display device context.
int Font_ScreenDpiY();
