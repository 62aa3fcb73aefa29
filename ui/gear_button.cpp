#include "ui/gear_button.h"

#include <cmath>
#include <numbers>

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

namespace quillmark {

namespace {

// A gear of eight teeth with a round hole, centred on the origin, `radius` to the tips of the teeth.
QPainterPath gear(double radius) {
  constexpr int kTeeth = 8;
  const double outer = radius;
  const double inner = radius * 0.72;
  QPolygonF outline;
  for (int tooth = 0; tooth < kTeeth; ++tooth) {
    // Each tooth spans 45 degrees: a short rise, a flat top, a fall and a flat root.
    const double start = tooth * 2 * std::numbers::pi / kTeeth;
    const double step = 2 * std::numbers::pi / kTeeth;
    const double angles[4] = {start, start + 0.18 * step, start + 0.5 * step, start + 0.68 * step};
    const double radii[4] = {inner, outer, outer, inner};
    for (int k = 0; k < 4; ++k)
      outline << QPointF(radii[k] * std::cos(angles[k]), radii[k] * std::sin(angles[k]));
  }
  QPainterPath path;
  path.addPolygon(outline);
  path.closeSubpath();
  path.addEllipse(QPointF(0, 0), radius * 0.33, radius * 0.33);
  path.setFillRule(Qt::OddEvenFill);
  return path;
}

}  // namespace

GearButton::GearButton(QWidget* parent) : QAbstractButton(parent) {
  setFixedSize(kDiameter, kDiameter);
  setCursor(Qt::ArrowCursor);
  setFocusPolicy(Qt::NoFocus);
  opacity_ = new QGraphicsOpacityEffect(this);
  opacity_->setOpacity(0.0);
  setGraphicsEffect(opacity_);
  fade_ = new QPropertyAnimation(opacity_, "opacity", this);
  fade_->setDuration(200);
  fade_->setEasingCurve(QEasingCurve::OutCubic);
}

void GearButton::setBackdrop(const QColor& color) {
  if (color == backdrop_) return;
  backdrop_ = color;
  update();
}

void GearButton::setShown(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  fade_->stop();
  fade_->setStartValue(opacity_->opacity());
  fade_->setEndValue(shown ? 1.0 : 0.0);
  fade_->start();
}

void GearButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const bool darkBackdrop = backdrop_.lightnessF() < 0.5;
  const QColor ink = darkBackdrop ? QColor(255, 255, 255, 220) : QColor(0, 0, 0, 190);
  // A thin veil of the opposite lightness stands in for a translucent material.
  QColor veil = darkBackdrop ? QColor(255, 255, 255) : QColor(0, 0, 0);
  veil.setAlphaF(isDown() ? 0.30f : (underMouse() ? 0.22f : 0.14f));
  const QRectF disc = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(veil);
  painter.drawEllipse(disc);

  painter.translate(disc.center());
  painter.setBrush(ink);
  painter.drawPath(gear(disc.width() * 0.31));
}

}  // namespace quillmark
