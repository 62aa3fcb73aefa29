#pragma once
// ColorWell: a button showing a colour swatch (over a checkerboard, so that opacity shows) which opens
// Qt's colour dialog with an opacity channel; the chosen colour comes back through colorPicked.
// Threads: main thread only.

#include <QColor>
#include <QPointer>
#include <QToolButton>

class QColorDialog;

namespace quillmark {

class ColorWell : public QToolButton {
  Q_OBJECT

 public:
  explicit ColorWell(QWidget* parent = nullptr);

  QColor color() const { return color_; }
  // Shows a colour without announcing it (the caller already knows it).
  void setColor(const QColor& color);

  // The open colour dialog, or null when none is open.
  QColorDialog* dialog() const;

  QSize sizeHint() const override { return {44, 22}; }

 signals:
  void colorPicked(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void openDialog();

  QColor color_ = Qt::white;
  QPointer<QColorDialog> dialog_;  // owned by this well while open; deletes itself when closed
};

}  // namespace quillmark
