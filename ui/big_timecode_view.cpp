#include "ui/big_timecode_view.h"

#include <algorithm>
#include <cmath>

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QResizeEvent>

#include "ui/display_font.h"
#include "ui/rgba_color.h"
#include "ui/seven_segment.h"

namespace quillmark {

namespace {

// Freewheel is magenta, not the desktop's orange: orange is a few steps from the amber digits of the
// default preset (CIELAB distance 11), so the state would hardly show; magenta is at least 99 from every
// preset's digit colour and 81 from every preset's background. Acquiring is the desktop's standard yellow
// (the GNOME palette's "Yellow 3").
constexpr RGBA kFreewheelMagenta{0.9, 0.3, 0.9, 1.0};
constexpr RGBA kStandardYellow{0.965, 0.827, 0.176, 1.0};

RGBA withAlphaTimes(RGBA color, double factor) {
  color.alpha *= factor;
  return color;
}

// Text typefaces draw every digit in a cell as wide as the font's widest digit, so that the digits do not
// shuffle sideways as they count even in a font with proportional figures.
double digitCell(const QFontMetricsF& metrics) {
  double widest = 0;
  for (QChar ch : QStringLiteral("0123456789")) widest = std::max(widest, metrics.horizontalAdvance(ch));
  return widest;
}

bool isDigit(QChar ch) {
  return ch >= u'0' && ch <= u'9';
}

std::string layoutShape(std::string text) {
  for (char& ch : text) {
    if (ch >= '0' && ch <= '9') ch = '0';
  }
  return text;
}

QSizeF measureRun(const QString& text, const QFont& font) {
  const QFontMetricsF metrics(font);
  const double cell = digitCell(metrics);
  double width = 0;
  for (QChar ch : text) width += isDigit(ch) ? cell : metrics.horizontalAdvance(ch);
  return {width, metrics.height()};
}

// Draws the run centred horizontally in `frame` (widget coordinates), its line box filling the height.
void drawRun(QPainter& painter, const QString& text, const QFont& font, const QRectF& frame) {
  const QFontMetricsF metrics(font);
  const double cell = digitCell(metrics);
  double x = frame.center().x() - measureRun(text, font).width() / 2;
  const double baseline = frame.top() + metrics.ascent();
  painter.setFont(font);
  for (QChar ch : text) {
    const double advance = metrics.horizontalAdvance(ch);
    const double width = isDigit(ch) ? cell : advance;
    painter.drawText(QPointF(x + (width - advance) / 2, baseline), QString(ch));
    x += width;
  }
}

}  // namespace

BigTimecodeView::BigTimecodeView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(minimumSizeHint());
  layoutDisplay();
}

void BigTimecodeView::setStyle(const DisplayStyle& style) {
  if (style == style_) return;
  style_ = style;
  layoutDisplay();
}

void BigTimecodeView::showContent(const Content& content) {
  if (content == content_) return;
  // A text of the same length can still need new geometry: in a proportional font "--:--:--:--" is far
  // narrower than "10:00:00:00", and a font fitted to the dashes would overflow once a timecode arrives.
  // So the text is compared by its shape (every digit read as "0"), which changes only with the length,
  // the dashes or the separators, never as the digits count.
  const bool shapeChanged = layoutShape(content.text) != layoutShape(content_.text);
  const bool infoToggled = content.info.empty() != content_.info.empty();
  content_ = content;
  if (shapeChanged || infoToggled) {
    layoutDisplay();
  } else {
    updateDisplay();
  }
}

RGBA BigTimecodeView::currentColor() const {
  const RGBA base = style_.text;
  if (!style_.colorByState) return base;
  if (content_.generator) return content_.running ? base : withAlphaTimes(base, 0.45);
  if (content_.text.starts_with("--")) return withAlphaTimes(base, 0.3);
  switch (content_.state) {
    case TimecodeClock::State::locked:
      return base;
    case TimecodeClock::State::freewheel:
      return kFreewheelMagenta;
    case TimecodeClock::State::acquiring:
      return kStandardYellow;
    case TimecodeClock::State::stopped:
      return withAlphaTimes(base, 0.45);
  }
  return base;
}

void BigTimecodeView::layoutDisplay() {
  ++layoutCount_;
  const double width = this->width();
  const double height = this->height();

  infoHeight_ = 0;
  if (style_.showInfo && !content_.info.empty()) infoHeight_ = std::min(0.05 * width, 0.14 * height);
  const double i = infoHeight_;
  digitRect_ = QRectF(0.04 * width, 1.4 * i, 0.92 * width, std::max(0.0, height - 1.6 * i));

  if (style_.typeface == Typeface::segments) {
    layoutSegments(digitRect_);
  } else {
    layoutText(digitRect_);
  }

  if (isInfoShown()) {
    infoFont_ = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    infoFont_.setWeight(QFont::DemiBold);
    infoFont_.setPixelSize(std::max(1, static_cast<int>(std::lround(0.75 * i))));
    infoFrame_ = QRectF(0, 0.4 * i, width, i);
  } else {
    infoFrame_ = QRectF();
  }
  updateDisplay();
}

void BigTimecodeView::layoutSegments(const QRectF& rect) {
  const sevensegment::Layout layout = sevensegment::layoutSegments(rect, content_.text, style_.slanted);
  digitHeight_ = layout.digitHeight;
  digitWidth_ = layout.digitWidth;
  origin_ = layout.origin;
}

QFont BigTimecodeView::font(double size) const {
  // Whole pixels, rounded down so that the text never outgrows the size it was fitted to.
  return displayFont(style_.typeface, style_.weight, static_cast<int>(std::floor(size)));
}

void BigTimecodeView::layoutText(const QRectF& rect) {
  QString sample = QString::fromStdString(content_.text);
  for (QChar& ch : sample) {
    if (isDigit(ch)) ch = u'0';
  }
  const QSizeF atHundred = measureRun(sample, font(100));
  double scale = atHundred.height() > 0 ? rect.height() / atHundred.height() : 1.0;
  if (atHundred.width() > 0) scale = std::min(scale, rect.width() / atHundred.width());
  fontSize_ = std::max(8.0, 100 * scale);
  textFont_ = font(fontSize_);
  const QSizeF measured = measureRun(sample, textFont_);
  textFrame_ =
      QRectF(rect.left(), rect.center().y() - measured.height() / 2, rect.width(), measured.height());
}

void BigTimecodeView::updateDisplay() {
  ++updateCount_;
  digitColor_ = toQColor(currentColor());
  if (style_.typeface == Typeface::segments) {
    const sevensegment::Layout layout{digitHeight_, digitWidth_, origin_};
    sevensegment::Outlines outlines = sevensegment::segmentPaths(content_.text, layout, style_.slanted);
    litPath_ = std::move(outlines.lit);
    ghostPath_ = std::move(outlines.ghost);
    RGBA ghost = style_.text;
    ghost.alpha = 0.07;
    ghostColor_ = toQColor(ghost);
  } else {
    litPath_.clear();
    ghostPath_.clear();
  }
  RGBA info = style_.text;
  info.alpha = 0.6;
  infoColor_ = toQColor(info);
  QWidget::update();
}

QRectF BigTimecodeView::toWidget(const QRectF& upward) const {
  return QRectF(upward.left(), height() - upward.top() - upward.height(), upward.width(), upward.height());
}

void BigTimecodeView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutDisplay();
}

void BigTimecodeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  // The window itself is opaque, so a translucent background colour shows over black.
  painter.fillRect(rect(), Qt::black);
  painter.fillRect(rect(), toQColor(style_.background));

  if (style_.typeface == Typeface::segments) {
    painter.save();
    painter.setTransform(QTransform(1, 0, 0, -1, 0, height()));  // upward coordinates
    painter.setPen(Qt::NoPen);
    if (style_.ghostSegments) painter.fillPath(ghostPath_, ghostColor_);
    painter.fillPath(litPath_, digitColor_);
    painter.restore();
  } else {
    painter.setPen(digitColor_);
    drawRun(painter, QString::fromStdString(content_.text), textFont_, toWidget(textFrame_));
  }

  if (isInfoShown()) {
    painter.setPen(infoColor_);
    painter.setFont(infoFont_);
    painter.drawText(toWidget(infoFrame_), Qt::AlignCenter, QString::fromStdString(content_.info));
  }
}

}  // namespace quillmark
