#include "ui/generator_section.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>

#include "ui/picker_entries.h"
#include "ui/section_support.h"
#include "ui/system_colors.h"

namespace quillmark {

namespace {

// The transport's symbol, drawn in the ink of the button's text so that both read alike on the accent or
// red fill: a triangle to play, a square to stop.
QPixmap glyph(bool stop, const QColor& ink) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ink);
  if (stop) {
    painter.drawRoundedRect(QRectF(7, 7, 18, 18), 2.5, 2.5);
  } else {
    painter.drawPolygon(QPolygonF{{8, 5}, {27, 16}, {8, 27}});
  }
  painter.end();
  return pixmap;
}

// Both states in the button's text ink: Qt's own greyed-out image would not match the disabled text.
QIcon transportGlyph(bool stop, const QPalette& palette) {
  QIcon icon(glyph(stop, palette.color(QPalette::Active, QPalette::ButtonText)));
  icon.addPixmap(glyph(stop, palette.color(QPalette::Disabled, QPalette::ButtonText)), QIcon::Disabled);
  return icon;
}

}  // namespace

GeneratorSection::GeneratorSection(TimecodeStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("Generator"), parent), store_(&store) {
  form_ = makeForm(this);
  rate_ = new QComboBox(this);
  setPickerEntries(rate_, rateEntries());
  timeOfDay_ = new QCheckBox(this);
  timeOfDay_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);  // only the box itself toggles
  // Quillmark runs on any Linux machine, so the text speaks of the computer's clock.
  timeOfDay_->setToolTip(QStringLiteral("Run on the computer's clock instead of from a start time"));

  auto* startRow = new QWidget(this);
  auto* startLayout = new QHBoxLayout(startRow);
  startLayout->setContentsMargins(0, 0, 0, 0);
  start_ = new QLineEdit(startRow);
  start_->setPlaceholderText(QStringLiteral("01:00:00:00"));
  start_->setFixedWidth(130);
  locateButton_ = new QPushButton(QStringLiteral("Locate"), startRow);
  startLayout->addWidget(start_);
  startLayout->addWidget(locateButton_);
  startLayout->addStretch(1);

  transport_ = new QPushButton(this);
  transport_->setMinimumWidth(70);
  transport_->setAutoDefault(false);
  // The space bar works the transport from anywhere in the window while this section shows; a text
  // field with focus takes the key first (QLineEdit claims printable keys before shortcuts run). The
  // shortcut is its own object because QAbstractButton::setText replaces a button's shortcut.
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  space->setContext(Qt::WindowShortcut);
  connect(space, &QShortcut::activated, transport_, &QPushButton::click);

  form_->addRow(QStringLiteral("Frame rate"), rate_);
  form_->addRow(QStringLiteral("Time of day"), timeOfDay_);
  form_->addRow(QStringLiteral("Start time"), startRow);
  form_->addRow(QStringLiteral("Transport"), transport_);
  rate_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  transport_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

  connect(rate_, &QComboBox::activated, this, [this](int index) {
    if (!store_) return;
    const std::optional<FrameRate> rate = rateFromData(rate_->itemData(index));
    if (rate) editSettings(*store_, [&](Settings& s) { s.generatorRate = *rate; });
  });
  connect(timeOfDay_, &QCheckBox::toggled, this, [this](bool on) {
    if (store_) editSettings(*store_, [&](Settings& s) { s.timeOfDay = on; });
  });
  connect(start_, &QLineEdit::returnPressed, this, &GeneratorSection::locate);
  connect(locateButton_, &QPushButton::clicked, this, &GeneratorSection::locate);
  connect(transport_, &QPushButton::clicked, this, [this] {
    if (!store_) return;
    if (store_->status().generatorRunning) {
      store_->stop();
    } else {
      store_->play();
    }
  });
  connect(&store, &TimecodeStore::settingsChanged, this, &GeneratorSection::showStore);
  connect(&store, &TimecodeStore::statusChanged, this, &GeneratorSection::showStore);
  showStore();
}

QString GeneratorSection::locateText() const {
  return start_->text();
}

void GeneratorSection::locate() {
  if (!store_) return;
  const bool located = store_->locate(start_->text().toStdString());
  invalid_ = !located;
  if (located) start_->setText(QString::fromStdString(store_->settings().generatorStart));
  showInvalid();
}

void GeneratorSection::showInvalid() {
  if (invalid_) {
    setTextColor(start_, ColorRole::red, QPalette::Text);
  } else {
    clearTextColor(start_, QPalette::Text);
  }
}

void GeneratorSection::showEvent(QShowEvent* event) {
  // The start time is filled in from the settings the first time the section appears, and then left to
  // the user: a later settings change does not overwrite what is being typed.
  if (!shownBefore_ && store_) {
    shownBefore_ = true;
    start_->setText(QString::fromStdString(store_->settings().generatorStart));
  }
  QGroupBox::showEvent(event);
}

void GeneratorSection::showStore() {
  if (!store_) return;
  const Settings& settings = store_->settings();
  selectPickerData(rate_, rawText(settings.generatorRate));
  {
    const QSignalBlocker blocker(timeOfDay_);
    timeOfDay_->setChecked(settings.timeOfDay);
  }
  showTransport();
}

void GeneratorSection::showTransport() {
  if (!store_) return;
  // On the computer's clock the generator always runs: there is nothing for the transport to stop.
  const bool timeOfDay = store_->settings().timeOfDay;
  const bool running = store_->status().generatorRunning || timeOfDay;
  transport_->setText(running ? QStringLiteral("Stop") : QStringLiteral("Play"));
  transport_->setEnabled(!timeOfDay);
  if (timeOfDay) {
    transport_->setToolTip(QStringLiteral("Runs on the computer's clock while Time of day is on"));
  } else {
    transport_->setToolTip(running ? QStringLiteral("Stop the generator (Space)")
                                   : QStringLiteral("Start the generator (Space)"));
  }
  // Filled with the accent colour, or red while the generator runs.
  setTextColor(transport_, running ? ColorRole::red : ColorRole::accent, QPalette::Button);
  setTextColor(transport_, ColorRole::onAccent, QPalette::ButtonText);
  // Disabled (time of day), it keeps its colours, faded, so that it still reads as running.
  setDisabledColor(transport_, running ? ColorRole::red : ColorRole::accent, 0.5, QPalette::Button);
  setDisabledColor(transport_, ColorRole::onAccent, 0.8, QPalette::ButtonText);
  transport_->setIcon(transportGlyph(running, transport_->palette()));
}

void GeneratorSection::changeEvent(QEvent* event) {
  QGroupBox::changeEvent(event);
  // The glyph is a picture in the palette's ink: it is drawn again for a new palette.
  if (event->type() == QEvent::PaletteChange) showTransport();
}

}  // namespace quillmark
