#include "ui/rate_picker.h"

#include "ui/picker_entries.h"
#include "ui/section_support.h"

namespace quillmark {

RatePicker::RatePicker(TimecodeStore& store, QWidget* parent) : QComboBox(parent), store_(&store) {
  setToolTip(QStringLiteral(
      "Auto reads the rate from the input. 24 and 23.976, and 30 and 29.97 non-drop, carry the same numbers; "
      "Auto tells them apart by measuring the speed."));
  setPickerEntries(this, inputRateEntries(std::nullopt));
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const std::optional<FrameRate> rate = rateFromData(itemData(index));
    editSettings(*store_, [&](Settings& s) { s.inputRate = rate; });
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &RatePicker::showSettings);
  connect(&store.live(), &LiveStatus::statusChanged, this, &RatePicker::showAutoTitle);
  showSettings();
}

void RatePicker::showSettings() {
  if (!store_) return;
  const std::optional<FrameRate>& rate = store_->settings().inputRate;
  selectPickerData(this, rate ? rawText(*rate) : QString());
  showAutoTitle();
}

void RatePicker::showAutoTitle() {
  // Only the first entry's text follows the live status; the list itself stays as it is.
  if (!store_) return;
  const QString title = autoRateTitle(store_->settings().inputRate, store_->live().status().rate);
  if (itemText(0) != title) setItemText(0, title);
}

FreewheelPicker::FreewheelPicker(TimecodeStore& store, QWidget* parent) : QComboBox(parent), store_(&store) {
  setToolTip(QStringLiteral("How long the outputs keep running when the input drops out"));
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const double seconds = itemData(index).toDouble();
    editSettings(*store_, [&](Settings& s) { s.freewheel = seconds; });
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &FreewheelPicker::showSettings);
  showSettings();
}

void FreewheelPicker::showSettings() {
  if (!store_) return;
  const double seconds = store_->settings().freewheel;
  setPickerEntries(this, freewheelEntries(seconds));
  selectPickerData(this, seconds);
}

}  // namespace quillmark
