#pragma once
// Conversion between the display style's RGBA (sRGB components from 0 to 1) and Qt's QColor.
// Threads: pure functions; safe anywhere QColor is.

#include <QColor>

#include "app/display_style.h"

namespace quillmark {

// The colour as sRGB with the alpha as opacity. Components outside 0 ... 1 (a hand-edited store) are
// clamped and a component that is not a number counts as 0, so the result is always a valid colour.
QColor toQColor(const RGBA& rgba);

// The colour's sRGB components whatever model it was made in (HSV, HSL, CMYK, extended RGB); a colour that
// cannot be converted (an invalid QColor) gives opaque white.
RGBA rgbaFromQColor(const QColor& color);

}  // namespace quillmark
