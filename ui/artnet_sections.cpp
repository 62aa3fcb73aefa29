#include "ui/artnet_sections.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "ui/rate_picker.h"
#include "ui/section_support.h"
#include "ui/value_stepper.h"

namespace quillmark {

namespace {

QLineEdit* makeAddressField(const QString& toolTip, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setPlaceholderText(QStringLiteral("0.0.0.0"));
  field->setToolTip(toolTip);
  return field;
}

QSpinBox* makePortField(int minimum, QWidget* parent) {
  auto* field = new QSpinBox(parent);
  field->setRange(minimum, 65535);
  field->setKeyboardTracking(false);  // one settings change per finished edit, not per digit
  return field;
}

// Shows `text` unless the user is typing in the field.
void showText(QLineEdit* field, const std::string& text) {
  const QString shown = QString::fromStdString(text);
  if (!field->hasFocus() && field->text() != shown) field->setText(shown);
}

void showPort(QSpinBox* field, std::int64_t port) {
  const QSignalBlocker quiet(field);
  field->setValue(static_cast<int>(port));
}

// Writes what the user types into an address and a port field to the settings fields they stand for.
void editEndpoint(QObject* owner, const QPointer<TimecodeStore>& store, QLineEdit* addressField,
                  QSpinBox* portField, std::string Settings::*address, std::int64_t Settings::*port) {
  QObject::connect(addressField, &QLineEdit::editingFinished, owner, [store, addressField, address] {
    if (!store) return;
    const std::string text = addressField->text().trimmed().toStdString();
    editSettings(*store, [&](Settings& s) { s.*address = text; });
  });
  QObject::connect(portField, &QSpinBox::valueChanged, owner, [store, port](int value) {
    if (store) editSettings(*store, [&](Settings& s) { s.*port = value; });
  });
}

}  // namespace

ArtNetInputSection::ArtNetInputSection(TimecodeStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("Art-Net input"), parent), store_(&store) {
  form_ = makeForm(this);
  address_ = makeAddressField(
      QStringLiteral("The address of this computer to listen on; 0.0.0.0 listens on every network"), this);
  port_ = makePortField(0, this);
  rate_ = new RatePicker(store, this);
  freewheel_ = new FreewheelPicker(store, this);
  error_ = makeErrorCaption(this);
  form_->addRow(QStringLiteral("Address"), address_);
  form_->addRow(QStringLiteral("Port"), port_);
  form_->addRow(QStringLiteral("Frame rate"), rate_);
  form_->addRow(QStringLiteral("Freewheel"), freewheel_);
  form_->addRow(error_);

  editEndpoint(this, store_, address_, port_, &Settings::artnetInAddress, &Settings::artnetInPort);
  connect(&store, &TimecodeStore::settingsChanged, this, &ArtNetInputSection::showStore);
  connect(&store, &TimecodeStore::inputErrorChanged, this, &ArtNetInputSection::showStore);
  showStore();
}

void ArtNetInputSection::showStore() {
  if (!store_) return;
  const Settings& s = store_->settings();
  showText(address_, s.artnetInAddress);
  showPort(port_, s.artnetInPort);
  showError(form_, error_, s.source == SourceKind::artnet ? store_->inputError() : std::nullopt);
}

ArtNetOutputSection::ArtNetOutputSection(TimecodeStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("Art-Net output"), parent), store_(&store) {
  form_ = makeForm(this);
  switch_ = new QCheckBox(this);
  switch_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  address_ = makeAddressField(QStringLiteral("The lighting desk's address, or a broadcast address: "
                                             "255.255.255.255 reaches every desk on the local network"),
                              this);
  port_ = makePortField(1, this);
  sendEarly_ = new ValueStepper(QStringLiteral("Send early"), -100, 100, millisecondsText, this);
  sendEarly_->setToolTip(QStringLiteral(
      "Send Art-Net this much earlier (or later, negative) to make up for delay after the computer"));
  error_ = makeErrorCaption(this);
  form_->addRow(QStringLiteral("Art-Net out"), switch_);
  form_->addRow(QStringLiteral("Address"), address_);
  form_->addRow(QStringLiteral("Port"), port_);
  form_->addRow(QStringLiteral("Send early"), sendEarly_);
  form_->addRow(error_);

  connect(switch_, &QCheckBox::toggled, this, [this](bool on) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.artnetOutEnabled = on; });
  });
  editEndpoint(this, store_, address_, port_, &Settings::artnetOutAddress, &Settings::artnetOutPort);
  connect(sendEarly_, &ValueStepper::valueEdited, this, [this](double ms) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.artnetLeadMilliseconds = ms; });
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &ArtNetOutputSection::showStore);
  connect(&store, &TimecodeStore::artnetOutErrorChanged, this, &ArtNetOutputSection::showStore);
  showStore();
}

void ArtNetOutputSection::showStore() {
  if (!store_) return;
  const Settings& s = store_->settings();
  {
    const QSignalBlocker quiet(switch_);
    switch_->setChecked(s.artnetOutEnabled);
  }
  showText(address_, s.artnetOutAddress);
  showPort(port_, s.artnetOutPort);
  sendEarly_->setValue(s.artnetLeadMilliseconds);
  form_->setRowVisible(address_, s.artnetOutEnabled);
  form_->setRowVisible(port_, s.artnetOutEnabled);
  form_->setRowVisible(sendEarly_, s.artnetOutEnabled);
  showError(form_, error_, s.artnetOutEnabled ? store_->artnetOutError() : std::nullopt);
}

}  // namespace quillmark
