#include "ui/style_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

#include "ui/color_panel.h"
#include "ui/color_well.h"
#include "ui/rgba_color.h"

namespace quillmark {

namespace {

QString text(std::string_view raw) {
  return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

const QString kChoose = QStringLiteral("Choose\u2026");

}  // namespace

StyleEditor::StyleEditor(QWidget* parent) : QWidget(parent) {
  // The form is kWidth wide and as tall as its content; the colour chooser opens beside it, and the
  // popover holding the editor follows its size hint.
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  auto* pane = new QWidget(this);
  pane->setFixedWidth(kWidth);
  row->addWidget(pane, 0, Qt::AlignTop);
  colors_ = new ColorPanel(this);
  row->addWidget(colors_, 0, Qt::AlignTop);
  form_ = new QFormLayout(pane);
  form_->setContentsMargins(14, 12, 14, 12);
  form_->setHorizontalSpacing(12);
  form_->setVerticalSpacing(8);
  form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form_->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);

  preset_ = new QComboBox(this);
  preset_->addItem(kChoose);
  for (const auto& preset : DisplayStyle::presets()) preset_->addItem(text(preset.name));
  form_->addRow(tr("Preset"), preset_);

  typeface_ = new QComboBox(this);
  for (Typeface typeface : kAllTypefaces) typeface_->addItem(text(rawValue(typeface)));
  form_->addRow(tr("Style"), typeface_);

  ghostSegments_ = new QCheckBox(tr("Unlit segments"), this);
  form_->addRow(QString(), ghostSegments_);
  slanted_ = new QCheckBox(tr("Slanted"), this);
  form_->addRow(QString(), slanted_);

  weight_ = new QComboBox(this);
  for (Weight weight : kAllWeights) weight_->addItem(text(rawValue(weight)));
  form_->addRow(tr("Weight"), weight_);

  text_ = new ColorWell(this);
  text_->setAccessibleName(tr("Digits"));
  form_->addRow(tr("Digits"), text_);
  background_ = new ColorWell(this);
  background_->setAccessibleName(tr("Background"));
  form_->addRow(tr("Background"), background_);

  showFrames_ = new QCheckBox(tr("Show frames"), this);
  form_->addRow(QString(), showFrames_);
  showInfo_ = new QCheckBox(tr("Show status and rate"), this);
  form_->addRow(QString(), showInfo_);
  colorByState_ = new QCheckBox(tr("Colour by state"), this);
  colorByState_->setToolTip(tr("Magenta while freewheeling, yellow while acquiring, dimmed when stopped"));
  form_->addRow(QString(), colorByState_);
  alwaysOnTop_ = new QCheckBox(tr("Always on top"), this);
  form_->addRow(QString(), alwaysOnTop_);

  connect(preset_, &QComboBox::activated, this, [this](int index) {
    if (index > 0) choosePreset(preset_->itemText(index));
    preset_->setCurrentIndex(0);
  });
  connect(typeface_, &QComboBox::activated, this, [this](int index) {
    if (index >= 0 && index < static_cast<int>(kAllTypefaces.size()))
      edit([index](DisplayStyle& s) { s.typeface = kAllTypefaces[static_cast<size_t>(index)]; });
  });
  connect(weight_, &QComboBox::activated, this, [this](int index) {
    if (index >= 0 && index < static_cast<int>(kAllWeights.size()))
      edit([index](DisplayStyle& s) { s.weight = kAllWeights[static_cast<size_t>(index)]; });
  });
  auto bindSwitch = [this](QCheckBox* box, bool DisplayStyle::*field) {
    connect(box, &QCheckBox::toggled, this,
            [this, field](bool on) { edit([&](DisplayStyle& s) { s.*field = on; }); });
  };
  bindSwitch(ghostSegments_, &DisplayStyle::ghostSegments);
  bindSwitch(slanted_, &DisplayStyle::slanted);
  bindSwitch(showFrames_, &DisplayStyle::showFrames);
  bindSwitch(showInfo_, &DisplayStyle::showInfo);
  bindSwitch(colorByState_, &DisplayStyle::colorByState);
  bindSwitch(alwaysOnTop_, &DisplayStyle::alwaysOnTop);
  for (ColorWell* well : {text_, background_})
    connect(well, &ColorWell::editRequested, colors_, [this, well] { colors_->edit(well); });
  connect(text_, &ColorWell::colorPicked, this,
          [this](const QColor& c) { edit([&](DisplayStyle& s) { s.text = rgbaFromQColor(c); }); });
  connect(background_, &ColorWell::colorPicked, this,
          [this](const QColor& c) { edit([&](DisplayStyle& s) { s.background = rgbaFromQColor(c); }); });

  showStyle();
}

void StyleEditor::setStyle(const DisplayStyle& style) {
  if (style == style_) return;
  style_ = style;
  showStyle();
}

void StyleEditor::choosePreset(const QString& name) {
  const std::optional<DisplayStyle> chosen = style_.choosingPreset(name.toStdString());
  if (chosen) edit([&](DisplayStyle& s) { s = *chosen; });
}

template <class Change>
void StyleEditor::edit(Change&& change) {
  DisplayStyle next = style_;
  change(next);
  if (next == style_) return;
  style_ = next;
  showStyle();
  emit styleChanged(style_);
}

bool StyleEditor::isRowShown(QWidget* field) const {
  int row = -1;
  QFormLayout::ItemRole role;
  form_->getWidgetPosition(field, &row, &role);
  return row >= 0 && form_->isRowVisible(row);
}

void StyleEditor::showStyle() {
  // The controls follow the style; none of them may write back while they are being set.
  const QSignalBlocker blockers[] = {QSignalBlocker(typeface_),      QSignalBlocker(weight_),
                                     QSignalBlocker(ghostSegments_), QSignalBlocker(slanted_),
                                     QSignalBlocker(showFrames_),    QSignalBlocker(showInfo_),
                                     QSignalBlocker(colorByState_),  QSignalBlocker(alwaysOnTop_)};
  preset_->setCurrentIndex(0);
  typeface_->setCurrentIndex(static_cast<int>(style_.typeface));
  weight_->setCurrentIndex(static_cast<int>(style_.weight));
  ghostSegments_->setChecked(style_.ghostSegments);
  slanted_->setChecked(style_.slanted);
  text_->setColor(toQColor(style_.text));
  background_->setColor(toQColor(style_.background));
  showFrames_->setChecked(style_.showFrames);
  showInfo_->setChecked(style_.showInfo);
  colorByState_->setChecked(style_.colorByState);
  alwaysOnTop_->setChecked(style_.alwaysOnTop);

  const bool segments = style_.typeface == Typeface::segments;
  form_->setRowVisible(ghostSegments_, segments);
  form_->setRowVisible(slanted_, segments);
  form_->setRowVisible(weight_, !segments);
}

}  // namespace quillmark
