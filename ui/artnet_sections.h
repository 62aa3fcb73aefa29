#pragma once
// The main window's Art-Net sections. ArtNetInputSection ("Art-Net input"): the local address and UDP port
// to listen on, the frame rate, the freewheel time, and the store's input error in red. ArtNetOutputSection
// ("Art-Net output"): the "Art-Net out" switch, and while it is on the destination address and port, the
// time it is sent early, and its error in red. An address is written to the settings when its field is
// left or Return is pressed, not on every key.
// Threads: main thread only.

#include <QGroupBox>
#include <QPointer>

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace quillmark {

class FreewheelPicker;
class RatePicker;
class TimecodeStore;
class ValueStepper;

class ArtNetInputSection : public QGroupBox {
  Q_OBJECT

 public:
  explicit ArtNetInputSection(TimecodeStore& store, QWidget* parent = nullptr);

  QLineEdit* addressField() const { return address_; }
  QSpinBox* portField() const { return port_; }
  QLabel* errorCaption() const { return error_; }

 private:
  void showStore();

  QPointer<TimecodeStore> store_;
  QFormLayout* form_ = nullptr;  // parent-owned, like the controls
  QLineEdit* address_ = nullptr;
  QSpinBox* port_ = nullptr;
  RatePicker* rate_ = nullptr;
  FreewheelPicker* freewheel_ = nullptr;
  QLabel* error_ = nullptr;
};

class ArtNetOutputSection : public QGroupBox {
  Q_OBJECT

 public:
  explicit ArtNetOutputSection(TimecodeStore& store, QWidget* parent = nullptr);

  QCheckBox* artnetOutSwitch() const { return switch_; }
  QLineEdit* addressField() const { return address_; }
  QSpinBox* portField() const { return port_; }
  ValueStepper* sendEarlyStepper() const { return sendEarly_; }
  QLabel* errorCaption() const { return error_; }
  QFormLayout* form() const { return form_; }

 private:
  void showStore();

  QPointer<TimecodeStore> store_;
  QFormLayout* form_ = nullptr;  // parent-owned, like the controls
  QCheckBox* switch_ = nullptr;
  QLineEdit* address_ = nullptr;
  QSpinBox* port_ = nullptr;
  ValueStepper* sendEarly_ = nullptr;
  QLabel* error_ = nullptr;
};

}  // namespace quillmark
