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

// `onAccent` is the ink of text and symbols drawn on a control filled with the accent or a state colour.
enum class ColorRole { label, secondaryLabel, tertiaryLabel, red, orange, yellow, green, accent, onAccent };

QColor systemColor(ColorRole role, const QPalette& palette);

// Paints `widget`'s `target` palette entry (its text by default) in `role`, resolved against the palette
// the widget inherits, and resolves it again whenever that palette changes: a desktop switched between
// light and dark while Quillmark runs, or a parent restyled. Each widget keeps one entry per target.
void setTextColor(QWidget* widget, ColorRole role, QPalette::ColorRole target = QPalette::WindowText);
// The same for the disabled state alone, at `opacity` times the role's own; set after setTextColor.
void setDisabledColor(QWidget* widget, ColorRole role, double opacity,
                      QPalette::ColorRole target = QPalette::WindowText);
// Gives `target` back to the inherited palette (in every state).
void clearTextColor(QWidget* widget, QPalette::ColorRole target = QPalette::WindowText);

// The size of captions and small print: `base` at 85 %.
QFont captionFont(const QFont& base);

}  // namespace quillmark
