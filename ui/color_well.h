#pragma once
// ColorWell: a button showing a colour swatch (over a checkerboard, so that opacity shows). Pressing it
// asks for the colour to be chosen (editRequested); whoever shows the chooser reports each colour back
// through pick, which the well announces with colorPicked. The well stays pressed while it is the one
// being chosen for.
// Threads: main thread only.

#include <QColor>
#include <QToolButton>

namespace quillmark {

class ColorWell : public QToolButton {
  Q_OBJECT

 public:
  explicit ColorWell(QWidget* parent = nullptr);

  QColor color() const { return color_; }
  // Shows a colour without announcing it (the caller already knows it).
  void setColor(const QColor& color);
  // Shows a colour the user chose and announces it.
  void pick(const QColor& color);

  QSize sizeHint() const override { return {44, 22}; }

 signals:
  void editRequested();
  void colorPicked(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_ = Qt::white;
};

}  // namespace quillmark
