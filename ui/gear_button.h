#pragma once
// GearButton: the display window's small round "Style the display" button: a gear on a translucent disc
// that reads on any background colour. It fades in and out (an ease-out of 0.2 s) as the window asks.
// Threads: main thread only.

#include <QAbstractButton>
#include <QColor>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace quillmark {

class GearButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr int kDiameter = 20;

  explicit GearButton(QWidget* parent = nullptr);

  // The colour the button sits on, so that the gear contrasts with it.
  void setBackdrop(const QColor& color);

  // Fades to fully opaque (shown) or fully transparent; isShown is the state being faded to.
  void setShown(bool shown);
  bool isShown() const { return shown_; }

  QSize sizeHint() const override { return {kDiameter, kDiameter}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor backdrop_ = Qt::black;
  bool shown_ = false;
  QGraphicsOpacityEffect* opacity_ = nullptr;  // owned by this button
  QPropertyAnimation* fade_ = nullptr;         // parent-owned
};

}  // namespace quillmark
