#pragma once
// The handful of named colours the main window speaks in (label, secondary and tertiary label, the state
// colours and the accent), resolved against a widget's current palette so that they follow the desktop's
// light or dark theme, and the caption font of its small print. The state colours are the GNOME palette's,
// the same ones the big display uses.
// Threads: main thread (palettes belong to widgets).

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace quillmark {

enum class ColorRole { label, secondaryLabel, tertiaryLabel, red, orange, yellow, green, accent };

QColor systemColor(ColorRole role, const QPalette& palette);

// Sets `widget`'s text to `role`, resolved against its own palette.
void setTextColor(QWidget* widget, ColorRole role);

// The size of captions and small print: `base` at 85 %.
QFont captionFont(const QFont& base);

}  // namespace quillmark
