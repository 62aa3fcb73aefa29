#pragma once
// The sections of the two input sources. LTCInputSection ("LTC input"): the audio input device, its
// channel, the live level meter, the frame rate, the freewheel time, and the store's input error in red.
// MTCInputSection ("MTC input"): the MIDI source ("All inputs" or one by name), the frame rate and the
// freewheel time. Each control shows the store's settings and writes them as the user chooses.
// Threads: main thread only.

#include <QGroupBox>
#include <QPointer>

class QComboBox;
class QFormLayout;
class QLabel;

namespace quillmark {

class FreewheelPicker;
class LiveLevelMeter;
class RatePicker;
class TimecodeStore;

class LTCInputSection : public QGroupBox {
  Q_OBJECT

 public:
  explicit LTCInputSection(TimecodeStore& store, QWidget* parent = nullptr);

  QComboBox* devicePicker() const { return device_; }
  QComboBox* channelPicker() const { return channel_; }
  LiveLevelMeter* levelMeter() const { return meter_; }
  RatePicker* ratePicker() const { return rate_; }
  FreewheelPicker* freewheelPicker() const { return freewheel_; }
  QLabel* errorCaption() const { return error_; }
  QFormLayout* form() const { return form_; }

 private:
  void showStore();

  QPointer<TimecodeStore> store_;
  QFormLayout* form_ = nullptr;  // parent-owned, like the controls
  QComboBox* device_ = nullptr;
  QComboBox* channel_ = nullptr;
  LiveLevelMeter* meter_ = nullptr;
  RatePicker* rate_ = nullptr;
  FreewheelPicker* freewheel_ = nullptr;
  QLabel* error_ = nullptr;
};

class MTCInputSection : public QGroupBox {
  Q_OBJECT

 public:
  explicit MTCInputSection(TimecodeStore& store, QWidget* parent = nullptr);

  QComboBox* sourcePicker() const { return source_; }
  RatePicker* ratePicker() const { return rate_; }
  FreewheelPicker* freewheelPicker() const { return freewheel_; }

 private:
  void showStore();

  QPointer<TimecodeStore> store_;
  QFormLayout* form_ = nullptr;  // parent-owned, like the controls
  QComboBox* source_ = nullptr;
  RatePicker* rate_ = nullptr;
  FreewheelPicker* freewheel_ = nullptr;
};

}  // namespace quillmark
