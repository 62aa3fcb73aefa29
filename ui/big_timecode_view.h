#pragma once
// BigTimecodeView draws the running timecode as large as its widget allows: seven-segment digits built
// from filled outlines (typeface "LED segments") or text in one of the other typefaces, with an optional
// status line underneath. The display window feeds it a Content on every status refresh and hands it the
// current DisplayStyle; it knows nothing of the store.
//
// Geometry (digit size and place, font size, the frames of text and status line) changes only in a full
// layout: on resize, on a new style, or when the text's shape or the presence of the status line
// changes. Any other new content costs one cheap update: the two outlines rebuilt, no font measuring.
// All frames and the origin are in the view's own upward coordinates: origin at the bottom-left corner,
// y growing upwards; painting flips them once.
// Threads: main thread only.

#include <cstdint>
#include <string>

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include "app/display_style.h"
#include "core/timecode_clock.h"

namespace quillmark {

class BigTimecodeView : public QWidget {
  Q_OBJECT

 public:
  // What to show; equal when every field is.
  struct Content {
    std::string text = "--:--:--:--";  // "HH:MM:SS:FF", ";" before the frames for drop frame, or 8 chars
    TimecodeClock::State state = TimecodeClock::State::stopped;
    bool held = false;       // compared only; it does not change the drawing
    bool running = false;    // the generator runs
    bool generator = false;  // the source is the generator
    std::string info;        // the status line; empty for none

    bool operator==(const Content&) const = default;
  };

  explicit BigTimecodeView(QWidget* parent = nullptr);

  const DisplayStyle& style() const { return style_; }
  const Content& content() const { return content_; }

  // Takes a new style; a style that differs from the current one re-lays out the view.
  void setStyle(const DisplayStyle& style);

  // Takes new content (QWidget::show is taken). Content equal to the current one changes nothing; a text
  // of another shape (length, dashes or separators; digits count as alike) or a status line appearing or
  // going re-lays out; anything else, such as the digits counting, only redraws.
  void showContent(const Content& content);

  // The colour the digits are drawn in now, as sRGB components.
  RGBA currentColor() const;

  // Geometry of the last layout, in the view's upward coordinates.
  double infoHeight() const { return infoHeight_; }
  bool isInfoShown() const { return infoHeight_ > 0; }
  QRectF digitRect() const { return digitRect_; }
  double digitHeight() const { return digitHeight_; }
  double digitWidth() const { return digitWidth_; }
  QPointF origin() const { return origin_; }
  double fontSize() const { return fontSize_; }
  QRectF textFrame() const { return textFrame_; }
  QRectF infoFrame() const { return infoFrame_; }
  QFont textFont() const { return textFont_; }
  QFont infoFont() const { return infoFont_; }

  // What the last update prepared for painting: the outlines (empty for text typefaces) and whether the
  // text or the unlit segments are drawn at all.
  const QPainterPath& litPath() const { return litPath_; }
  const QPainterPath& ghostPath() const { return ghostPath_; }
  bool isTextShown() const { return style_.typeface != Typeface::segments; }
  bool isGhostShown() const { return style_.typeface == Typeface::segments && style_.ghostSegments; }

  // How many full layouts and updates have run, so that the cost of a refresh can be checked.
  std::uint64_t layoutCount() const { return layoutCount_; }
  std::uint64_t updateCount() const { return updateCount_; }

  QSize sizeHint() const override { return {900, 280}; }
  QSize minimumSizeHint() const override { return {240, 90}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutDisplay();
  void layoutSegments(const QRectF& rect);
  void layoutText(const QRectF& rect);
  void updateDisplay();
  QFont font(double size) const;
  QRectF toWidget(const QRectF& upward) const;

  DisplayStyle style_;
  Content content_;

  // From the last layout.
  double infoHeight_ = 0;
  QRectF digitRect_;
  double digitHeight_ = 0;
  double digitWidth_ = 0;
  QPointF origin_;
  double fontSize_ = 0;
  QFont textFont_;
  QRectF textFrame_;
  QFont infoFont_;
  QRectF infoFrame_;

  // From the last update.
  QPainterPath litPath_;
  QPainterPath ghostPath_;
  QColor digitColor_;
  QColor ghostColor_;
  QColor infoColor_;

  std::uint64_t layoutCount_ = 0;
  std::uint64_t updateCount_ = 0;
};

}  // namespace quillmark
