#pragma once
// GeneratorSection ("Generator"): the generator's frame rate, the time-of-day switch, the start time with
// "Locate", and the transport button ("Play" / "Stop"), which the space bar works from anywhere in the
// window except a text field. With time of day on the generator follows the computer's clock and always
// runs, so the transport shows "Stop", disabled, with a tooltip saying why. The section's own state is the
// start-time text and whether the last locate failed; a text that does not parse or names no frame at the
// rate turns red until the next good locate, and a good one is replaced by the label as the store normalised
// it. Threads: main thread only.

#include <QGroupBox>
#include <QPointer>
#include <QString>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;

namespace quillmark {

class TimecodeStore;

class GeneratorSection : public QGroupBox {
  Q_OBJECT

 public:
  explicit GeneratorSection(TimecodeStore& store, QWidget* parent = nullptr);

  QString locateText() const;
  bool isInvalid() const { return invalid_; }
  // Locates the generator to the start-time text, as "Locate" and Return in the field do.
  void locate();

  QComboBox* ratePicker() const { return rate_; }
  QCheckBox* timeOfDaySwitch() const { return timeOfDay_; }
  QLineEdit* startField() const { return start_; }
  QPushButton* locateButton() const { return locateButton_; }
  QPushButton* transportButton() const { return transport_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void showStore();
  void showTransport();
  void showInvalid();

  QPointer<TimecodeStore> store_;
  bool invalid_ = false;
  bool shownBefore_ = false;
  QFormLayout* form_ = nullptr;  // parent-owned, like the controls
  QComboBox* rate_ = nullptr;
  QCheckBox* timeOfDay_ = nullptr;
  QLineEdit* start_ = nullptr;
  QPushButton* locateButton_ = nullptr;
  QPushButton* transport_ = nullptr;
};

}  // namespace quillmark
