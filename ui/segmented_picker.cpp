#include "ui/segmented_picker.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>

#include "ui/system_colors.h"

namespace quillmark {

namespace {

constexpr int kInset = 2;  // between the track's edge and the chosen segment's fill
constexpr qreal kRadius = 6;

class Segment : public QAbstractButton {
 public:
  Segment(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
  }

  QSize sizeHint() const override {
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 12};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF fill = QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset);
    QFont face = font();
    if (isChecked()) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(systemColor(ColorRole::accent, palette()));
      painter.drawRoundedRect(fill, kRadius - kInset, kRadius - kInset);
      painter.setPen(systemColor(ColorRole::onAccent, palette()));
      face.setBold(true);
    } else {
      if (underMouse() || isDown()) {
        QColor hover = systemColor(ColorRole::label, palette());
        hover.setAlphaF(isDown() ? 0.14f : 0.07f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(hover);
        painter.drawRoundedRect(fill, kRadius - kInset, kRadius - kInset);
      }
      painter.setPen(systemColor(ColorRole::label, palette()));
    }
    painter.setFont(face);
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus()) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = fill.toRect().adjusted(2, 2, -2, -2);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
  }
};

}  // namespace

SegmentedPicker::SegmentedPicker(QWidget* parent) : QWidget(parent) {
  row_ = new QHBoxLayout(this);
  row_->setContentsMargins(0, 0, 0, 0);
  row_->setSpacing(0);
  group_ = new QButtonGroup(this);
  group_->setExclusive(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QAbstractButton* SegmentedPicker::addSegment(const QString& text, int id) {
  auto* segment = new Segment(text, this);
  group_->addButton(segment, id);
  row_->addWidget(segment);
  connect(segment, &QAbstractButton::toggled, this, qOverload<>(&QWidget::update));
  return segment;
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor fill = systemColor(ColorRole::label, palette());
  fill.setAlphaF(0.06f);
  QColor edge = systemColor(ColorRole::label, palette());
  edge.setAlphaF(0.18f);
  painter.setPen(QPen(edge, 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(track, kRadius, kRadius);

  // Thin dividers between two segments that are both unchosen, as a segmented control draws them.
  const QList<QAbstractButton*> segments = group_->buttons();
  painter.setPen(QPen(edge, 1));
  for (qsizetype i = 1; i < segments.size(); ++i) {
    if (segments[i - 1]->isChecked() || segments[i]->isChecked()) continue;
    const qreal x = segments[i]->geometry().left() + 0.5;
    painter.drawLine(QPointF(x, track.top() + 6), QPointF(x, track.bottom() - 6));
  }
}

}  // namespace quillmark
