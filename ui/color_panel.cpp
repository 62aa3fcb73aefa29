#include "ui/color_panel.h"

#include <QColorDialog>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/color_well.h"

namespace quillmark {

ColorPanel::ColorPanel(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  chooser_ = new QColorDialog(this);
  // A plain child widget, not a window: clicks in it stay inside the popover, which therefore stays open.
  chooser_->setWindowFlags(Qt::Widget);
  // The desktop's own dialog may have no opacity control and always opens a window; Qt's does neither.
  chooser_->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
  column->addWidget(chooser_);
  connect(chooser_, &QColorDialog::currentColorChanged, this, [this](const QColor& color) {
    if (well_ && color.isValid()) well_->pick(color);
  });
  // The chooser's own "OK" and "Cancel" end the edit; they hide the chooser, which the next edit shows.
  connect(chooser_, &QColorDialog::accepted, this, &ColorPanel::keep);
  connect(chooser_, &QColorDialog::rejected, this, &ColorPanel::cancel);
  hide();
}

void ColorPanel::edit(ColorWell* well) {
  if (well == well_) {
    keep();
    return;
  }
  if (well_) well_->setChecked(false);
  well_ = well;
  before_ = well->color();
  well->setChecked(true);
  {
    const QSignalBlocker quiet(chooser_);  // showing the current colour is no choice
    chooser_->setCurrentColor(before_);
  }
  chooser_->setWindowTitle(well->accessibleName());
  chooser_->show();
  show();
}

void ColorPanel::keep() {
  close(true);
}

void ColorPanel::cancel() {
  close(false);
}

void ColorPanel::close(bool keepColor) {
  if (!well_) return;
  ColorWell* well = well_;
  well_ = nullptr;
  well->setChecked(false);
  if (!keepColor && well->color() != before_) well->pick(before_);
  hide();
}

}  // namespace quillmark
