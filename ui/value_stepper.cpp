#include "ui/value_stepper.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>

namespace quillmark {

namespace {

// The whole number a value shows as, without a negative zero.
long long whole(double value) {
  if (!std::isfinite(value)) return 0;
  return std::llround(value);
}

QToolButton* stepButton(const QString& text, const QString& name, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(text);
  button->setAccessibleName(name);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setFixedSize(22, 22);
  return button;
}

}  // namespace

QString millisecondsText(double value) {
  return QString::number(whole(value)) + QStringLiteral(" ms");
}

QString dbfsText(double value) {
  return QString::number(whole(value)) + QStringLiteral(" dBFS");
}

QString framesText(double value) {
  const long long frames = whole(value);
  return (frames > 0 ? QStringLiteral("+") : QString()) + QString::number(frames) + QStringLiteral(" frames");
}

ValueStepper::ValueStepper(QString title, double minimum, double maximum, Format format, QWidget* parent)
    : QWidget(parent),
      title_(std::move(title)),
      minimum_(minimum),
      maximum_(maximum),
      format_(std::move(format)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);
  text_ = new QLabel(this);
  text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(QStringLiteral("-100 frames")) + 4);
  down_ = stepButton(QStringLiteral("\u2212"), title_ + QStringLiteral(" down"), this);
  up_ = stepButton(QStringLiteral("+"), title_ + QStringLiteral(" up"), this);
  row->addWidget(text_);
  row->addStretch(1);
  row->addWidget(down_);
  row->addWidget(up_);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(title_);
  connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
  connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
  value_ = std::clamp(0.0, minimum_, maximum_);
  showValue();
}

QString ValueStepper::text() const {
  return text_->text();
}

void ValueStepper::setValue(double value) {
  value_ = value;
  showValue();
}

void ValueStepper::stepBy(int steps) {
  // A value stored out of range (a hand-edited record) comes back into range at the first step.
  const double base = std::isfinite(value_) ? value_ : 0.0;
  const double next = std::clamp(base + steps, minimum_, maximum_);
  if (next == value_) return;
  value_ = next;
  showValue();
  emit valueEdited(value_);
}

void ValueStepper::showValue() {
  text_->setText(format_(value_));
  down_->setEnabled(!(value_ <= minimum_));
  up_->setEnabled(!(value_ >= maximum_));
  setAccessibleDescription(text_->text());
}

void ValueStepper::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      stepBy(1);
      return;
    case Qt::Key_Down:
      stepBy(-1);
      return;
    case Qt::Key_PageUp:
      stepBy(10);
      return;
    case Qt::Key_PageDown:
      stepBy(-10);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

}  // namespace quillmark
