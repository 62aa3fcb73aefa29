#pragma once
// ColorPanel: Qt's colour chooser (with opacity) laid into a form instead of opening as a dialog window
// of its own, so that the popover holding the form stays open while a colour is chosen. Every change of
// colour, each step of a drag included, goes straight to the well being edited (and through it to the
// style); "OK" keeps the colour, "Cancel" puts back the one the well had when editing began.
// Threads: main thread only.

#include <QColor>
#include <QPointer>
#include <QWidget>

#include "ui/color_well.h"

class QColorDialog;

namespace quillmark {

class ColorPanel : public QWidget {
  Q_OBJECT

 public:
  explicit ColorPanel(QWidget* parent = nullptr);

  // Opens the panel for `well`. Asking again for the well being edited closes the panel and keeps the
  // colour; asking for another well keeps the colour chosen so far and moves on.
  void edit(ColorWell* well);
  // Closes the panel with the colour chosen so far ("OK").
  void keep();
  // Closes the panel and gives the well back the colour it had before ("Cancel").
  void cancel();

  // The well being edited, or null while the panel is closed.
  ColorWell* well() const { return well_.data(); }
  // The chooser inside, for tests. Owned by this panel.
  QColorDialog* chooser() const { return chooser_; }

 private:
  void close(bool keepColor);

  QColorDialog* chooser_ = nullptr;
  QPointer<ColorWell> well_;  // a sibling in the same form
  QColor before_;
};

}  // namespace quillmark
