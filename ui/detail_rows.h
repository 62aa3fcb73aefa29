#pragma once
// DetailRows: the counters and measurements of the selected input ("Details"), each a label with a value,
// "–" standing for an absent value. LTC shows user bits, frames read and bit errors first; MTC the source
// it came from and the sequences read; both then timing jitter, jumps, dropouts and damaged frames ignored.
// Threads: main thread only.

#include <vector>

#include <QString>
#include <QWidget>

#include "app/status.h"
#include "core/source_kind.h"

class QFormLayout;
class QLabel;

namespace quillmark {

struct DetailRow {
  QString label;
  QString value;
  QString toolTip;

  bool operator==(const DetailRow&) const = default;
};

// The rows for an input source; the generator has none.
std::vector<DetailRow> detailRows(SourceKind source, const Status& status);

class DetailRows : public QWidget {
  Q_OBJECT

 public:
  explicit DetailRows(QWidget* parent = nullptr);

  void show(SourceKind source, const Status& status);

  // The value shown in the row with that label; empty when there is no such row.
  QString value(const QString& label) const;
  int rowCount() const;

 private:
  QFormLayout* form_ = nullptr;  // parent-owned, like the labels
  std::vector<QLabel*> labels_;
  std::vector<QLabel*> values_;
};

}  // namespace quillmark
