#include "ui/live_views.h"

#include <algorithm>
#include <cmath>

#include <QEvent>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

namespace quillmark {

namespace {

// The level below which the meter reads as silence: -120 dBFS.
constexpr float kLevelFloor = 1e-6f;

}  // namespace

TimecodeText timecodeText(const Status& status) {
  if (!status.timecode) return {};
  const bool dropFrame = status.rate == FrameRate::fps29_97DF;
  return TimecodeText{QString::fromStdString(status.timecode->text(dropFrame)),
                      status.held ? Emphasis::held : Emphasis::live};
}

ColorRole emphasisColor(Emphasis emphasis) noexcept {
  switch (emphasis) {
    case Emphasis::live:
      return ColorRole::label;
    case Emphasis::held:
      return ColorRole::secondaryLabel;
    case Emphasis::none:
      return ColorRole::tertiaryLabel;
  }
  return ColorRole::tertiaryLabel;
}

LiveTimecodeLabel::LiveTimecodeLabel(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(kHeight);
  font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font_.setPixelSize(kFontPixels);
  font_.setWeight(QFont::DemiBold);
  color_ = systemColor(emphasisColor(shown_.emphasis), palette());
  setAccessibleName(QStringLiteral("Timecode"));
}

void LiveTimecodeLabel::follow(LiveStatus* live) {
  disconnect(connection_);
  live_ = live;
  if (live == nullptr) {
    showStatus(Status{});
    return;
  }
  connection_ = connect(live, &LiveStatus::statusChanged, this, &LiveTimecodeLabel::showStatus);
  showStatus(live->status());
}

void LiveTimecodeLabel::showStatus(const Status& status) {
  const TimecodeText next = timecodeText(status);
  if (next == shown_) return;
  if (next.emphasis != shown_.emphasis) color_ = systemColor(emphasisColor(next.emphasis), palette());
  shown_ = next;
  ++textUpdates_;
  update();
}

QColor LiveTimecodeLabel::textColor() const {
  return color_;
}

QRectF LiveTimecodeLabel::textFrame() const {
  return QRectF(0, (height() - kTextHeight) / 2.0, width(), kTextHeight);
}

void LiveTimecodeLabel::changeEvent(QEvent* event) {
  // The desktop switched between light and dark: resolve the colour again.
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
    color_ = systemColor(emphasisColor(shown_.emphasis), palette());
    update();
  }
  QWidget::changeEvent(event);
}

void LiveTimecodeLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font_);
  painter.setPen(color_);
  painter.drawText(textFrame(), Qt::AlignCenter, shown_.text);
}

MeterReading meterReading(float level) {
  // A NaN level (which max() would pass through) reads as silence, not as a bar of undefined width.
  const float floored = level >= kLevelFloor ? level : kLevelFloor;
  MeterReading reading;
  reading.decibels = 20.0 * std::log10(static_cast<double>(floored));
  reading.fraction = std::clamp((reading.decibels + 60.0) / 60.0, 0.0, 1.0);
  if (reading.decibels > -3.0) {
    reading.color = ColorRole::red;
  } else if (reading.decibels < -40.0) {
    reading.color = ColorRole::orange;
  } else {
    reading.color = ColorRole::green;
  }
  reading.toolTip = std::isfinite(reading.decibels) ? QString::asprintf("%.0f dBFS", reading.decibels)
                                                    : QStringLiteral("Input level");
  return reading;
}

LiveLevelMeter::LiveLevelMeter(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSize);
  reading_ = meterReading(0);
  setToolTip(QStringLiteral("Input level"));  // until the first layout shows the reading
  setAccessibleName(QStringLiteral("Input level"));
}

void LiveLevelMeter::follow(LiveStatus* live) {
  disconnect(connection_);
  live_ = live;
  if (live == nullptr) return;
  connection_ =
      connect(live, &LiveStatus::statusChanged, this, [this](const Status& s) { showLevel(s.level); });
  showLevel(live->status().level);
}

void LiveLevelMeter::showLevel(float level) {
  if (level == level_) return;
  level_ = level;
  ++levelUpdates_;
  relayout();
}

void LiveLevelMeter::relayout() {
  reading_ = meterReading(level_);
  setToolTip(reading_.toolTip);
  update();
}

void LiveLevelMeter::resizeEvent(QResizeEvent* event) {
  relayout();
  QWidget::resizeEvent(event);
}

QRectF LiveLevelMeter::barRect() const {
  return QRectF(0, 0, reading_.fraction * width(), height());
}

QColor LiveLevelMeter::barColor() const {
  return systemColor(reading_.color, palette());
}

QColor LiveLevelMeter::trackColor() const {
  QColor track = systemColor(ColorRole::label, palette());
  track.setAlphaF(0.08f);
  return track;
}

void LiveLevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double radius = height() / 2.0;
  QPainterPath track;
  track.addRoundedRect(QRectF(rect()), radius, radius);
  painter.fillPath(track, trackColor());
  const QRectF bar = barRect();
  if (bar.width() <= 0) return;
  QPainterPath fill;
  fill.addRoundedRect(bar, std::min(radius, bar.width() / 2), radius);
  painter.fillPath(fill, barColor());
}

}  // namespace quillmark
