#include "ui/input_sections.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSet>

#include "ui/live_views.h"
#include "ui/picker_entries.h"
#include "ui/rate_picker.h"
#include "ui/section_support.h"

namespace quillmark {

namespace {

// One entry per name: settings and pickers identify a MIDI port by its name.
std::vector<PickerEntry> midiPortEntries(const std::vector<MIDIPort>& ports) {
  std::vector<PickerEntry> entries;
  QSet<QString> seen;
  for (const MIDIPort& port : ports) {
    const QString name = QString::fromStdString(port.name);
    if (seen.contains(name)) continue;
    seen.insert(name);
    entries.push_back({name, name});
  }
  return entries;
}

}  // namespace

LTCInputSection::LTCInputSection(TimecodeStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("LTC input"), parent), store_(&store) {
  form_ = makeForm(this);
  device_ = new QComboBox(this);
  channel_ = new QComboBox(this);
  meter_ = new LiveLevelMeter(this);
  rate_ = new RatePicker(store, this);
  freewheel_ = new FreewheelPicker(store, this);
  error_ = makeErrorCaption(this);
  form_->addRow(QStringLiteral("Audio input"), device_);
  form_->addRow(QStringLiteral("Channel"), channel_);
  form_->addRow(QStringLiteral("Level"), meter_);
  form_->addRow(QStringLiteral("Frame rate"), rate_);
  form_->addRow(QStringLiteral("Freewheel"), freewheel_);
  form_->addRow(error_);
  meter_->follow(&store.live());

  connect(device_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const std::string uid = device_->itemData(index).toString().toStdString();
    editSettings(*store_, [&](Settings& s) { s.ltcInputUID.emplace(uid); });
  });
  connect(channel_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const qint64 channel = channel_->itemData(index).toLongLong();
    editSettings(*store_, [&](Settings& s) { s.ltcInputChannel = channel; });
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &LTCInputSection::showStore);
  connect(&store, &TimecodeStore::inputDevicesChanged, this, &LTCInputSection::showStore);
  connect(&store, &TimecodeStore::inputErrorChanged, this, &LTCInputSection::showStore);
  showStore();
}

void LTCInputSection::showStore() {
  if (!store_) return;
  std::vector<PickerEntry> devices;
  for (const AudioDevice& device : store_->inputDevices()) {
    devices.push_back({QString::fromStdString(device.name), QString::fromStdString(device.uid)});
  }
  setPickerEntries(device_, devices);
  const std::optional<AudioDevice> selected = store_->selectedInput();
  selectPickerData(device_, selected ? QVariant(QString::fromStdString(selected->uid)) : QVariant());
  setPickerEntries(channel_, inputChannelEntries(selected ? selected->channels : 0));
  selectPickerData(channel_, qint64{store_->settings().ltcInputChannel});
  showError(form_, error_, store_->inputError());
}

MTCInputSection::MTCInputSection(TimecodeStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("MTC input"), parent), store_(&store) {
  form_ = makeForm(this);
  source_ = new QComboBox(this);
  rate_ = new RatePicker(store, this);
  freewheel_ = new FreewheelPicker(store, this);
  form_->addRow(QStringLiteral("MIDI input"), source_);
  form_->addRow(QStringLiteral("Frame rate"), rate_);
  form_->addRow(QStringLiteral("Freewheel"), freewheel_);

  connect(source_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const std::string name = source_->itemData(index).toString().toStdString();
    editSettings(*store_, [&](Settings& s) { s.mtcInputName = name; });
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &MTCInputSection::showStore);
  connect(&store, &TimecodeStore::midiSourcesChanged, this, &MTCInputSection::showStore);
  showStore();
}

void MTCInputSection::showStore() {
  if (!store_) return;
  std::vector<PickerEntry> entries{{QStringLiteral("All inputs"), QString()}, PickerEntry::divider()};
  for (PickerEntry& entry : midiPortEntries(store_->midiSources())) entries.push_back(std::move(entry));
  setPickerEntries(source_, entries);
  selectPickerData(source_, QString::fromStdString(store_->settings().mtcInputName));
}

}  // namespace quillmark
