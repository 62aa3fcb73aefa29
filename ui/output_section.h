#pragma once
// OutputSection ("Outputs"): MTC out with its MIDI destination and lead time, LTC out with its audio
// device, channel or channel pair, level and error, and the frame offset both outputs add. The rows of an
// output show only while that output is on; the offset always shows.
// Threads: main thread only.

#include <QGroupBox>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;

namespace quillmark {

class TimecodeStore;
class ValueStepper;

class OutputSection : public QGroupBox {
  Q_OBJECT

 public:
  explicit OutputSection(TimecodeStore& store, QWidget* parent = nullptr);

  QCheckBox* mtcOutSwitch() const { return mtcOut_; }
  QComboBox* midiOutputPicker() const { return midiOutput_; }
  ValueStepper* sendEarlyStepper() const { return sendEarly_; }
  QCheckBox* ltcOutSwitch() const { return ltcOut_; }
  QComboBox* audioOutputPicker() const { return audioOutput_; }
  QComboBox* channelPicker() const { return channel_; }
  ValueStepper* levelStepper() const { return level_; }
  QLabel* errorCaption() const { return error_; }
  ValueStepper* offsetStepper() const { return offset_; }
  QFormLayout* form() const { return form_; }

  // Whether the row holding `field` is part of the form now.
  bool isRowShown(QWidget* field) const;

 private:
  void showStore();

  QPointer<TimecodeStore> store_;
  QFormLayout* form_ = nullptr;  // parent-owned, like the controls
  QCheckBox* mtcOut_ = nullptr;
  QComboBox* midiOutput_ = nullptr;
  ValueStepper* sendEarly_ = nullptr;
  QCheckBox* ltcOut_ = nullptr;
  QComboBox* audioOutput_ = nullptr;
  QComboBox* channel_ = nullptr;
  ValueStepper* level_ = nullptr;
  QLabel* error_ = nullptr;
  ValueStepper* offset_ = nullptr;
};

}  // namespace quillmark
