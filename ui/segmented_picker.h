#pragma once
// SegmentedPicker: one choice among a few, drawn as a single rounded track whose chosen segment is filled
// with the accent colour (the source picker's "LTC in" / "MTC in" / "Generator"). Each segment is a
// checkable button in one exclusive group, so it clicks, focuses and reads like any button. Colours are
// taken from the palette whenever it paints, so a desktop switched between light and dark shows at once.
// Threads: main thread only.

#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QHBoxLayout;

namespace quillmark {

class SegmentedPicker : public QWidget {
  Q_OBJECT

 public:
  explicit SegmentedPicker(QWidget* parent = nullptr);

  // Adds a segment at the end; `id` is what the group reports when it is clicked. Parent-owned.
  QAbstractButton* addSegment(const QString& text, int id);
  QButtonGroup* group() const { return group_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QButtonGroup* group_ = nullptr;  // owned by this picker
  QHBoxLayout* row_ = nullptr;
};

}  // namespace quillmark
