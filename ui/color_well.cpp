#include "ui/color_well.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace quillmark {

ColorWell::ColorWell(QWidget* parent) : QToolButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setCheckable(true);
  // The chooser decides when the well is pressed: a click asks, it does not toggle.
  connect(this, &QToolButton::clicked, this, [this] {
    setChecked(!isChecked());
    emit editRequested();
  });
}

void ColorWell::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void ColorWell::pick(const QColor& color) {
  setColor(color);
  emit colorPicked(color);
}

void ColorWell::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionToolButton option;
  initStyleOption(&option);
  option.text.clear();
  option.icon = QIcon();
  painter.drawComplexControl(QStyle::CC_ToolButton, option);

  const QRectF swatch = QRectF(rect()).adjusted(5, 5, -5, -5);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.save();
  QPainterPath clip;
  clip.addRoundedRect(swatch, 3, 3);
  painter.setClipPath(clip);
  // A checkerboard behind the colour, so that a translucent colour reads as translucent.
  const int cell = 5;
  for (int y = 0; y * cell < swatch.height(); ++y) {
    for (int x = 0; x * cell < swatch.width(); ++x) {
      painter.fillRect(QRectF(swatch.left() + x * cell, swatch.top() + y * cell, cell, cell),
                       (x + y) % 2 ? QColor(204, 204, 204) : Qt::white);
    }
  }
  painter.fillRect(swatch, color_);
  painter.restore();
  painter.setPen(QPen(palette().color(QPalette::Mid), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(swatch.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
}

}  // namespace quillmark
