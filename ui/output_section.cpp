#include "ui/output_section.h"

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSet>

#include "ui/picker_entries.h"
#include "ui/section_support.h"
#include "ui/value_stepper.h"

namespace quillmark {

OutputSection::OutputSection(TimecodeStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("Outputs"), parent), store_(&store) {
  form_ = makeForm(this);
  mtcOut_ = new QCheckBox(this);
  midiOutput_ = new QComboBox(this);
  sendEarly_ = new ValueStepper(QStringLiteral("Send early"), -100, 100, millisecondsText, this);
  // Quillmark runs on any Linux machine, so the text speaks of the delay after the computer.
  sendEarly_->setToolTip(QStringLiteral(
      "Send MTC this much earlier (or later, negative) to make up for delay after the computer"));
  ltcOut_ = new QCheckBox(this);
  audioOutput_ = new QComboBox(this);
  channel_ = new QComboBox(this);
  level_ = new ValueStepper(QStringLiteral("Level"), -30, 0, dbfsText, this);
  error_ = makeErrorCaption(this);
  offset_ = new ValueStepper(QStringLiteral("Offset"), -100, 100, framesText, this);
  offset_->setToolTip(QStringLiteral("Added to the time on every output: LTC, MTC and Art-Net"));
  // A switch is as wide as its box, so a click elsewhere in the row does not toggle an output.
  mtcOut_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  ltcOut_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

  form_->addRow(QStringLiteral("MTC out"), mtcOut_);
  form_->addRow(QStringLiteral("MIDI output"), midiOutput_);
  form_->addRow(QStringLiteral("Send early"), sendEarly_);
  form_->addRow(QStringLiteral("LTC out"), ltcOut_);
  form_->addRow(QStringLiteral("Audio output"), audioOutput_);
  form_->addRow(QStringLiteral("Channel"), channel_);
  form_->addRow(QStringLiteral("Level"), level_);
  form_->addRow(error_);
  form_->addRow(QStringLiteral("Offset"), offset_);

  connect(mtcOut_, &QCheckBox::toggled, this, [this](bool on) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.mtcOutEnabled = on; });
  });
  connect(midiOutput_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const std::string name = midiOutput_->itemData(index).toString().toStdString();
    editSettings(*store_, [&](Settings& s) { s.mtcOutName = name; });
  });
  connect(sendEarly_, &ValueStepper::valueEdited, this, [this](double ms) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.mtcLeadMilliseconds = ms; });
  });
  connect(ltcOut_, &QCheckBox::toggled, this, [this](bool on) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.ltcOutEnabled = on; });
  });
  connect(audioOutput_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const std::string uid = audioOutput_->itemData(index).toString().toStdString();
    editSettings(*store_, [&](Settings& s) { s.ltcOutUID.emplace(uid); });
  });
  connect(channel_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const qint64 tag = channel_->itemData(index).toLongLong();
    editSettings(*store_, [&](Settings& s) { setOutputChannelTag(s, tag); });
  });
  connect(level_, &ValueStepper::valueEdited, this, [this](double dbfs) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.ltcOutLevel = dbfs; });
  });
  connect(offset_, &ValueStepper::valueEdited, this, [this](double frames) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.offsetFrames = std::llround(frames); });
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &OutputSection::showStore);
  connect(&store, &TimecodeStore::outputDevicesChanged, this, &OutputSection::showStore);
  connect(&store, &TimecodeStore::midiDestinationsChanged, this, &OutputSection::showStore);
  connect(&store, &TimecodeStore::outputErrorChanged, this, &OutputSection::showStore);
  showStore();
}

bool OutputSection::isRowShown(QWidget* field) const {
  return form_->isRowVisible(field);
}

void OutputSection::showStore() {
  if (!store_) return;
  const Settings& s = store_->settings();
  {
    const QSignalBlocker mtc(mtcOut_);
    const QSignalBlocker ltc(ltcOut_);
    mtcOut_->setChecked(s.mtcOutEnabled);
    ltcOut_->setChecked(s.ltcOutEnabled);
  }

  std::vector<PickerEntry> destinations;
  QSet<QString> seen;  // one entry per name: settings name a destination, not a port
  for (const MIDIPort& port : store_->midiDestinations()) {
    const QString name = QString::fromStdString(port.name);
    if (seen.contains(name)) continue;
    seen.insert(name);
    destinations.push_back({name, name});
  }
  setPickerEntries(midiOutput_, destinations);
  selectPickerData(midiOutput_, QString::fromStdString(s.mtcOutName));
  sendEarly_->setValue(s.mtcLeadMilliseconds);

  std::vector<PickerEntry> devices;
  for (const AudioDevice& device : store_->outputDevices()) {
    devices.push_back({QString::fromStdString(device.name), QString::fromStdString(device.uid)});
  }
  setPickerEntries(audioOutput_, devices);
  const std::optional<AudioDevice> selected = store_->selectedOutput();
  selectPickerData(audioOutput_, selected ? QVariant(QString::fromStdString(selected->uid)) : QVariant());
  setPickerEntries(channel_, outputChannelEntries(selected ? selected->channels : 0));
  selectPickerData(channel_, qint64{outputChannelTag(s)});
  level_->setValue(s.ltcOutLevel);
  offset_->setValue(static_cast<double>(s.offsetFrames));

  form_->setRowVisible(midiOutput_, s.mtcOutEnabled);
  form_->setRowVisible(sendEarly_, s.mtcOutEnabled);
  form_->setRowVisible(audioOutput_, s.ltcOutEnabled);
  form_->setRowVisible(channel_, s.ltcOutEnabled);
  form_->setRowVisible(level_, s.ltcOutEnabled);
  showError(form_, error_, s.ltcOutEnabled ? store_->outputError() : std::nullopt);
}

}  // namespace quillmark
