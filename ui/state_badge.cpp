#include "ui/state_badge.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include "ui/displayed_status.h"
#include "ui/system_colors.h"

namespace quillmark {

namespace {

constexpr double kPaddingX = 8;
constexpr double kPaddingY = 3;

ColorRole stateColor(SourceKind source, const Status& status) {
  if (source == SourceKind::generator) {
    return status.generatorRunning ? ColorRole::green : ColorRole::secondaryLabel;
  }
  switch (status.state) {
    case TimecodeClock::State::freewheel:
      return ColorRole::orange;
    case TimecodeClock::State::locked:
      return ColorRole::green;
    case TimecodeClock::State::acquiring:
      return ColorRole::yellow;
    case TimecodeClock::State::stopped:
      return ColorRole::secondaryLabel;
  }
  return ColorRole::secondaryLabel;
}

QFont badgeFont(const QFont& base) {
  QFont font = captionFont(base);
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
  return font;
}

}  // namespace

BadgeLook badgeLook(SourceKind source, const Status& status) {
  const bool generator = source == SourceKind::generator;
  return BadgeLook{QString::fromUtf8(stateWord(displayedStatus(status), generator)),
                   stateColor(source, status)};
}

StateBadge::StateBadge(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StateBadge::setLook(const BadgeLook& look) {
  if (look == look_) return;
  const bool resized = look.text != look_.text;
  look_ = look;
  if (resized) updateGeometry();
  update();
}

QColor StateBadge::textColor() const {
  if (look_.color == ColorRole::secondaryLabel) return systemColor(ColorRole::secondaryLabel, palette());
  return QColor(0, 0, 0, 204);  // black at 0.8
}

QColor StateBadge::fillColor() const {
  if (look_.color == ColorRole::secondaryLabel) {
    QColor primary = systemColor(ColorRole::label, palette());
    primary.setAlphaF(0.08f);
    return primary;
  }
  return systemColor(look_.color, palette());
}

QSize StateBadge::sizeHint() const {
  const QFontMetricsF metrics(badgeFont(font()));
  return QSizeF(metrics.horizontalAdvance(look_.text) + 2 * kPaddingX, metrics.height() + 2 * kPaddingY)
      .toSize()
      .grownBy(QMargins(0, 0, 1, 0));
}

void StateBadge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath capsule;
  capsule.addRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
  painter.fillPath(capsule, fillColor());
  painter.setFont(badgeFont(font()));
  painter.setPen(textColor());
  painter.drawText(bounds, Qt::AlignCenter, look_.text);
}

}  // namespace quillmark
