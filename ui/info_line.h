#pragma once
// InfoLine: the line under the running timecode: the state badge, then the rate, the measured rate, the
// speed when it is off by more than 0.2 %, and "reverse". It follows the detail status (twice a second and
// on every coarse change), so the measurements do not flicker at the refresh rate.
// Threads: main thread only.

#include <vector>

#include <QString>
#include <QWidget>

#include "app/status.h"
#include "core/source_kind.h"
#include "ui/system_colors.h"

class QLabel;

namespace quillmark {

class StateBadge;

struct InfoItem {
  enum class Kind { rate, measuredRate, speed, reverse };
  Kind kind = Kind::rate;
  QString text;
  ColorRole color = ColorRole::label;
  QString toolTip;

  bool operator==(const InfoItem&) const = default;
};

// The items after the badge, in order: the rate ("25 fps"); the measured rate ("%.3f") while acquiring or
// locked; "speed %.1f %" while locked and more than 0.002 off 1; "reverse".
std::vector<InfoItem> infoLineItems(const Status& status);

class InfoLine : public QWidget {
  Q_OBJECT

 public:
  explicit InfoLine(QWidget* parent = nullptr);

  void show(SourceKind source, const Status& status);

  StateBadge* badge() const { return badge_; }
  // The label showing an item of that kind; hidden when the item is absent.
  QLabel* label(InfoItem::Kind kind) const;

 private:
  StateBadge* badge_ = nullptr;  // parent-owned, like the labels
  QLabel* rate_ = nullptr;
  QLabel* measuredRate_ = nullptr;
  QLabel* speed_ = nullptr;
  QLabel* reverse_ = nullptr;
};

}  // namespace quillmark
