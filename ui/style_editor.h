#pragma once
// StyleEditor: the small form, shown in the display window's popover, through which the user changes the
// display style: a preset, the typeface and its weight or segment switches, the two colours and the
// switches. The colour wells open a chooser beside the form, inside the same popover. Every control,
// each step of a colour being dragged included, writes through at once: each change is announced with
// styleChanged, which the owner stores (and so persists and redraws). setStyle shows a style from outside
// without announcing it.
//
// The "Preset" picker always reads "Choose…": choosing a preset gives that preset's look with the current
// alwaysOnTop, since a preset never changes the window level.
// Threads: main thread only.

#include <QWidget>

#include "app/display_style.h"

class QCheckBox;
class QComboBox;
class QFormLayout;

namespace quillmark {

class ColorPanel;
class ColorWell;

class StyleEditor : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 300;

  explicit StyleEditor(QWidget* parent = nullptr);

  const DisplayStyle& style() const { return style_; }
  void setStyle(const DisplayStyle& style);

  // Chooses a preset by name, as the "Preset" picker does; an unknown name changes nothing.
  void choosePreset(const QString& name);

  // The controls, for the window that hosts the form and for tests. Parent-owned.
  QComboBox* presetPicker() const { return preset_; }
  QComboBox* typefacePicker() const { return typeface_; }
  QComboBox* weightPicker() const { return weight_; }
  QCheckBox* ghostSegmentsSwitch() const { return ghostSegments_; }
  QCheckBox* slantedSwitch() const { return slanted_; }
  ColorWell* textWell() const { return text_; }
  ColorWell* backgroundWell() const { return background_; }
  // Where a well's colour is chosen, beside the form while open.
  ColorPanel* colorPanel() const { return colors_; }
  QCheckBox* showFramesSwitch() const { return showFrames_; }
  QCheckBox* showInfoSwitch() const { return showInfo_; }
  QCheckBox* colorByStateSwitch() const { return colorByState_; }
  QCheckBox* alwaysOnTopSwitch() const { return alwaysOnTop_; }

  // True while the row is part of the form (the segment switches and the weight picker take turns).
  bool isRowShown(QWidget* field) const;

 signals:
  void styleChanged(const DisplayStyle& style);

 private:
  template <class Change>
  void edit(Change&& change);
  void showStyle();

  DisplayStyle style_;
  QFormLayout* form_ = nullptr;  // parent-owned, like every control below
  QComboBox* preset_ = nullptr;
  QComboBox* typeface_ = nullptr;
  QCheckBox* ghostSegments_ = nullptr;
  QCheckBox* slanted_ = nullptr;
  QComboBox* weight_ = nullptr;
  ColorWell* text_ = nullptr;
  ColorWell* background_ = nullptr;
  QCheckBox* showFrames_ = nullptr;
  QCheckBox* showInfo_ = nullptr;
  QCheckBox* colorByState_ = nullptr;
  QCheckBox* alwaysOnTop_ = nullptr;
  ColorPanel* colors_ = nullptr;
};

}  // namespace quillmark
