#include "ui/detail_rows.h"

#include <QFormLayout>
#include <QLabel>

namespace quillmark {

namespace {

const QString kAbsent = QStringLiteral("\u2013");  // en dash

QString count(std::int64_t value) {
  return QString::number(value);
}

}  // namespace

std::vector<DetailRow> detailRows(SourceKind source, const Status& status) {
  std::vector<DetailRow> rows;
  switch (source) {
    case SourceKind::generator:
      return rows;
    case SourceKind::mtc:
      rows.push_back({QStringLiteral("From"),
                      status.mtcSource.empty() ? kAbsent : QString::fromStdString(status.mtcSource),
                      {}});
      rows.push_back({QStringLiteral("Sequences read"), count(status.framesIn), {}});
      break;
    case SourceKind::artnet:
      rows.push_back({QStringLiteral("Packets read"), count(status.framesIn), {}});
      rows.push_back({QStringLiteral("Damaged packets"), count(status.errors),
                      QStringLiteral("Datagrams on the Art-Net port that were not Art-Net, or timecode "
                                     "packets that did not read")});
      break;
    case SourceKind::ltc:
      rows.push_back(
          {QStringLiteral("User bits"),
           status.userBits ? QString::asprintf("%08X", static_cast<unsigned>(*status.userBits)) : kAbsent,
           {}});
      rows.push_back({QStringLiteral("Frames read"), count(status.framesIn), {}});
      rows.push_back({QStringLiteral("Bit errors"), count(status.errors), {}});
      break;
  }
  rows.push_back(
      {QStringLiteral("Timing jitter"),
       status.jitterMilliseconds ? QString::asprintf("%.2f ms", *status.jitterMilliseconds) : kAbsent,
       {}});
  rows.push_back({QStringLiteral("Jumps"), count(status.jumps), {}});
  rows.push_back({QStringLiteral("Dropouts"), count(status.dropouts), {}});
  rows.push_back(
      {QStringLiteral("Damaged frames ignored"), count(status.ignored),
       QStringLiteral("Frames that didn't fit the running time and weren't confirmed by the next one")});
  return rows;
}

DetailRows::DetailRows(QWidget* parent) : QWidget(parent) {
  form_ = new QFormLayout(this);
  form_->setContentsMargins(0, 0, 0, 0);
  form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
}

void DetailRows::show(SourceKind source, const Status& status) {
  const std::vector<DetailRow> rows = detailRows(source, status);
  // Rows are made once for the largest set (LTC: seven) and relabelled, never rebuilt.
  while (labels_.size() < rows.size()) {
    auto* label = new QLabel(this);
    auto* value = new QLabel(this);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setTextFormat(Qt::PlainText);  // a MIDI source name is not markup
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow(label, value);
    labels_.push_back(label);
    values_.push_back(value);
  }
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    const bool shown = i < rows.size();
    form_->setRowVisible(static_cast<int>(i), shown);
    if (!shown) continue;
    if (labels_[i]->text() != rows[i].label) labels_[i]->setText(rows[i].label);
    if (values_[i]->text() != rows[i].value) values_[i]->setText(rows[i].value);
    labels_[i]->setToolTip(rows[i].toolTip);
    values_[i]->setToolTip(rows[i].toolTip);
  }
}

QString DetailRows::value(const QString& label) const {
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    if (labels_[i]->text() == label && labels_[i]->isVisibleTo(this)) return values_[i]->text();
  }
  return {};
}

int DetailRows::rowCount() const {
  int shown = 0;
  for (QLabel* label : labels_) shown += label->isVisibleTo(this) ? 1 : 0;
  return shown;
}

}  // namespace quillmark
