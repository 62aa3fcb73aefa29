#include "ui/info_line.h"

#include <cmath>

#include <QHBoxLayout>
#include <QLabel>

#include "ui/state_badge.h"

namespace quillmark {

namespace {

// A speed this close to 1 is the nominal rate: the clock's fit wanders that much on clean code. The
// allowance of a billionth keeps a speed of exactly 1.002, which 1.002 - 1.0 overshoots in binary, inside.
constexpr double kSpeedTolerance = 0.002 + 1e-9;

QString rateText(FrameRate rate) {
  const auto raw = rawValue(rate);
  return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size())) + QStringLiteral(" fps");
}

}  // namespace

std::vector<InfoItem> infoLineItems(const Status& status) {
  using State = TimecodeClock::State;
  std::vector<InfoItem> items;
  if (status.rate) items.push_back({InfoItem::Kind::rate, rateText(*status.rate), ColorRole::label, {}});
  if (status.measuredRate && (status.state == State::acquiring || status.state == State::locked)) {
    items.push_back({InfoItem::Kind::measuredRate, QString::asprintf("%.3f", *status.measuredRate),
                     ColorRole::secondaryLabel, QStringLiteral("Frames per second as measured")});
  }
  if (status.speed && status.state == State::locked && std::abs(*status.speed - 1.0) > kSpeedTolerance) {
    items.push_back({InfoItem::Kind::speed,
                     QString::asprintf("speed %.1f %%", *status.speed * 100.0),
                     ColorRole::orange,
                     {}});
  }
  if (status.reverse)
    items.push_back({InfoItem::Kind::reverse, QStringLiteral("reverse"), ColorRole::orange, {}});
  return items;
}

InfoLine::InfoLine(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);
  badge_ = new StateBadge(this);
  row->addWidget(badge_, 0, Qt::AlignVCenter);
  QFont callout = font();
  callout.setPointSizeF(font().pointSizeF() * 0.95);
  for (QLabel** label : {&rate_, &measuredRate_, &speed_, &reverse_}) {
    *label = new QLabel(this);
    (*label)->setFont(callout);
    (*label)->hide();
    row->addWidget(*label, 0, Qt::AlignVCenter);
  }
  QFont medium = callout;
  medium.setWeight(QFont::Medium);
  rate_->setFont(medium);
  row->addStretch(1);
}

QLabel* InfoLine::label(InfoItem::Kind kind) const {
  switch (kind) {
    case InfoItem::Kind::rate:
      return rate_;
    case InfoItem::Kind::measuredRate:
      return measuredRate_;
    case InfoItem::Kind::speed:
      return speed_;
    case InfoItem::Kind::reverse:
      return reverse_;
  }
  return rate_;
}

void InfoLine::show(SourceKind source, const Status& status) {
  badge_->setLook(badgeLook(source, status));
  for (QLabel* label : {rate_, measuredRate_, speed_, reverse_}) label->setVisible(false);
  for (const InfoItem& item : infoLineItems(status)) {
    QLabel* target = label(item.kind);
    if (target->text() != item.text) target->setText(item.text);
    target->setToolTip(item.toolTip);
    setTextColor(target, item.color);
    target->setVisible(true);
  }
}

}  // namespace quillmark
