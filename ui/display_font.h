#pragma once
// The fonts of the big display. The style's typeface names ("SF Mono", "DIN", "Menlo" ...) are persisted
// and stay as they are; here each maps to the closest font installed on this machine: the named font when
// it happens to be installed, then a look-alike, then the desktop's own system or fixed font. A candidate
// is taken only if it has every glyph a timecode needs, so the display is never blank or drawn in boxes.
//
// Qt 6.4 cannot switch a font to tabular figures, so "fixed-width digits" is the view's job: it draws each
// digit in a cell as wide as the font's widest digit (BigTimecodeView).
// Threads: main thread (QFontDatabase and font metrics).

#include <QFont>
#include <QStringList>

#include "app/display_style.h"

namespace quillmark {

// Qt's weight for a style weight: light 300, regular 400, semibold 600, bold 700, heavy 800.
QFont::Weight qtWeight(Weight weight) noexcept;

// The family names tried for a typeface at a weight, most wanted first. The system fonts the last resort
// falls back to are not listed; they are taken from the desktop at the time of the call.
QStringList displayFontCandidates(Typeface typeface, Weight weight);

// The font for a typeface and weight at `pixelSize` pixels (at least 1).
QFont displayFont(Typeface typeface, Weight weight, int pixelSize);

// True when the font draws every character a timecode display shows ("0" to "9", ":", ";", "-") with
// glyphs of its own and a visible width.
bool canShowTimecode(const QFont& font);

}  // namespace quillmark
