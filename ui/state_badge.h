#pragma once
// StateBadge: the coloured state word at the start of the main window's info line ("LOCKED" in green,
// "FREEWHEEL" in orange, ...), drawn on a capsule. A badge in the secondary colour is drawn as a quiet
// grey word on a faint capsule; any other is a dark word on a capsule of its colour.
// Threads: main thread only.

#include <QString>
#include <QWidget>

#include "app/status.h"
#include "core/source_kind.h"
#include "ui/system_colors.h"

namespace quillmark {

struct BadgeLook {
  QString text;
  ColorRole color = ColorRole::secondaryLabel;

  bool operator==(const BadgeLook&) const = default;
};

// "RUNNING" (green) or "STOPPED" for the generator; for an input "FREEWHEEL" (orange), "LOCKED" (green),
// "ACQUIRING" (yellow), and when stopped "STOPPED" with a label held or "NO TIMECODE" without one.
BadgeLook badgeLook(SourceKind source, const Status& status);

class StateBadge : public QWidget {
  Q_OBJECT

 public:
  explicit StateBadge(QWidget* parent = nullptr);

  const BadgeLook& look() const { return look_; }
  void setLook(const BadgeLook& look);

  // The colours the word and the capsule are drawn in, from the current palette.
  QColor textColor() const;
  QColor fillColor() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  BadgeLook look_{QStringLiteral("NO TIMECODE"), ColorRole::secondaryLabel};
};

}  // namespace quillmark
