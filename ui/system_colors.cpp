#include "ui/system_colors.h"

#include <QWidget>

namespace quillmark {

namespace {

QColor withAlpha(QColor color, double alpha) {
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

}  // namespace

QColor systemColor(ColorRole role, const QPalette& palette) {
  const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
  switch (role) {
    case ColorRole::label:
      return text;
    case ColorRole::secondaryLabel:
      return withAlpha(text, 0.62);
    case ColorRole::tertiaryLabel:
      return withAlpha(text, 0.38);
    case ColorRole::red:
      return QColor(0xe0, 0x1b, 0x24);
    case ColorRole::orange:
      return QColor(0xff, 0x78, 0x00);
    case ColorRole::yellow:
      return QColor(0xf6, 0xd3, 0x2d);
    case ColorRole::green:
      return QColor(0x33, 0xd1, 0x7a);
    case ColorRole::accent:
      return palette.color(QPalette::Active, QPalette::Highlight);
  }
  return text;
}

void setTextColor(QWidget* widget, ColorRole role) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, systemColor(role, palette));
  widget->setPalette(palette);
}

QFont captionFont(const QFont& base) {
  QFont font = base;
  font.setPointSizeF(base.pointSizeF() * 0.85);
  return font;
}

}  // namespace quillmark
