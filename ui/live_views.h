#pragma once
// The two views of the main window that change many times a second: LiveTimecodeLabel, the running
// timecode line, and LiveLevelMeter, the input level bar. Each follows the store's LiveStatus directly and
// repaints only itself, so the rest of the window is not rebuilt on every refresh tick; each drops a
// status that would not change what it shows.
// Threads: main thread only (the LiveStatus signals are emitted there by the store's timer).

#include <cstdint>

#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include "app/live_status.h"
#include "app/status.h"
#include "ui/system_colors.h"

namespace quillmark {

// How strongly the timecode is drawn: a running label, a label standing still, or no label at all.
enum class Emphasis { live, held, none };

struct TimecodeText {
  QString text = QStringLiteral("--:--:--:--");
  Emphasis emphasis = Emphasis::none;

  bool operator==(const TimecodeText&) const = default;
};

// "--:--:--:--" without a timecode; else the label (";" before the frames at 29.97 DF), held or live.
TimecodeText timecodeText(const Status& status);

ColorRole emphasisColor(Emphasis emphasis) noexcept;

class LiveTimecodeLabel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 76;
  static constexpr int kTextHeight = 78;
  static constexpr int kFontPixels = 64;

  explicit LiveTimecodeLabel(QWidget* parent = nullptr);

  // Follows `live` from now on (and shows its current status); a null source shows no timecode.
  void follow(LiveStatus* live);
  void showStatus(const Status& status);

  const TimecodeText& shown() const { return shown_; }
  QColor textColor() const;
  // The frame the text is drawn in: the full width, kTextHeight high, centred vertically.
  QRectF textFrame() const;
  // How many times the text or its colour was changed; a status that changes neither does not count.
  std::uint64_t textUpdates() const { return textUpdates_; }

  QSize sizeHint() const override { return {520, kHeight}; }
  QSize minimumSizeHint() const override { return {200, kHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QPointer<LiveStatus> live_;
  QMetaObject::Connection connection_;
  TimecodeText shown_;
  QColor color_;
  QFont font_;
  std::uint64_t textUpdates_ = 0;
};

// What the level meter shows for a linear amplitude.
struct MeterReading {
  double decibels = -120;  // 20·log10(max(level, 1e-6))
  double fraction = 0;     // (dB + 60) / 60, within 0 ... 1
  ColorRole color = ColorRole::orange;
  QString toolTip;
};

MeterReading meterReading(float level);

class LiveLevelMeter : public QWidget {
  Q_OBJECT

 public:
  static constexpr QSize kSize{160, 8};

  explicit LiveLevelMeter(QWidget* parent = nullptr);

  void follow(LiveStatus* live);
  void showLevel(float level);

  float level() const { return level_; }
  const MeterReading& reading() const { return reading_; }
  // The filled part and the track, in widget coordinates, with their colours.
  QRectF barRect() const;
  QColor barColor() const;
  QColor trackColor() const;
  // How many new levels arrived; a level equal to the previous one does not count.
  std::uint64_t levelUpdates() const { return levelUpdates_; }

  QSize sizeHint() const override { return kSize; }
  QSize minimumSizeHint() const override { return kSize; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void relayout();

  QPointer<LiveStatus> live_;
  QMetaObject::Connection connection_;
  float level_ = 0;
  MeterReading reading_;
  std::uint64_t levelUpdates_ = 0;
};

}  // namespace quillmark
