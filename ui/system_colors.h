#pragma once
// The handful of named colours the main window speaks in (label, secondary and tertiary label, the state
// colours and the accent), resolved against a widget's current palette so that they follow the desktop's
// light or dark theme. The state colours are the GNOME palette's, the same ones the big display uses.
// Threads: main thread (palettes belong to widgets).

#include <QColor>
#include <QPalette>

namespace quillmark {

enum class ColorRole { label, secondaryLabel, tertiaryLabel, red, orange, yellow, green, accent };

QColor systemColor(ColorRole role, const QPalette& palette);

}  // namespace quillmark
