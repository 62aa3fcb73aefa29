#pragma once
// ValueStepper: a number shown as text ("-6 dBFS", "+2 frames") with a small pair of step buttons, step
// 1, held within its range. The form row's label is its title. The Up and Down keys step it too, Page Up
// and Page Down by ten. Stepping announces the new value with valueEdited; setValue shows a value from
// outside without announcing it.
// Threads: main thread only.

#include <functional>

#include <QString>
#include <QWidget>

class QLabel;
class QToolButton;

namespace quillmark {

class ValueStepper : public QWidget {
  Q_OBJECT

 public:
  using Format = std::function<QString(double)>;

  ValueStepper(QString title, double minimum, double maximum, Format format, QWidget* parent = nullptr);

  const QString& title() const { return title_; }
  double value() const { return value_; }
  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  QString text() const;

  void setValue(double value);
  // Moves by `steps` (negative: down), held within the range; announces the value when it changed.
  void stepBy(int steps);

  QToolButton* downButton() const { return down_; }
  QToolButton* upButton() const { return up_; }

 signals:
  void valueEdited(double value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showValue();

  QString title_;
  double minimum_;
  double maximum_;
  Format format_;
  double value_ = 0;
  QLabel* text_ = nullptr;  // parent-owned, like the buttons
  QToolButton* down_ = nullptr;
  QToolButton* up_ = nullptr;
};

// The three formats of the main window: "12 ms", "-6 dBFS", "+2 frames" (a plus sign for positive offsets
// only). Each rounds to the whole number and never shows "-0".
QString millisecondsText(double value);
QString dbfsText(double value);
QString framesText(double value);

}  // namespace quillmark
