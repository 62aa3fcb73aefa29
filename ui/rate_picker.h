#pragma once
// The two pickers both input sections share: RatePicker over the input frame rate ("Auto", which reads
// "Auto (25)" while it has detected 25 fps, or a forced rate), and FreewheelPicker over how long the
// outputs run on when the input drops out. Both write the store's settings as the user chooses.
// Threads: main thread only.

#include <QComboBox>
#include <QPointer>

namespace quillmark {

class TimecodeStore;

class RatePicker : public QComboBox {
  Q_OBJECT

 public:
  explicit RatePicker(TimecodeStore& store, QWidget* parent = nullptr);

 private:
  void showSettings();
  void showAutoTitle();

  QPointer<TimecodeStore> store_;
};

class FreewheelPicker : public QComboBox {
  Q_OBJECT

 public:
  explicit FreewheelPicker(TimecodeStore& store, QWidget* parent = nullptr);

 private:
  void showSettings();

  QPointer<TimecodeStore> store_;
};

}  // namespace quillmark
