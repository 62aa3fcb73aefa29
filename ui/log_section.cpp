#include "ui/log_section.h"

#include <algorithm>

#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/timecode_store.h"
#include "ui/system_colors.h"

namespace quillmark {

QString LogSection::timeText(const QDateTime& date) {
  // The locale's short time format with seconds added where it leaves them out ("h:mm AP" -> "h:mm:ss AP").
  const QLocale locale;
  QString format = locale.timeFormat(QLocale::ShortFormat);
  if (!format.contains(u's')) {
    const qsizetype minutes = format.lastIndexOf(QStringLiteral("mm"));
    if (minutes >= 0) format.insert(minutes + 2, QStringLiteral(":ss"));
  }
  return locale.toString(date.time(), format);
}

LogSection::LogSection(TimecodeStore& store, QWidget* parent) : QWidget(parent), store_(&store) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);

  disclosure_ = new QToolButton(this);
  disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  disclosure_->setArrowType(Qt::RightArrow);
  // A flat header like a form's section title, not a button that stays pressed while the group is open.
  disclosure_->setAutoRaise(true);
  disclosure_->setCursor(Qt::PointingHandCursor);
  QFont header = disclosure_->font();
  header.setBold(true);
  disclosure_->setFont(header);
  column->addWidget(disclosure_);

  body_ = new QWidget(this);
  auto* grid = new QGridLayout(body_);
  grid->setContentsMargins(18, 0, 0, 0);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(2);
  grid->setColumnStretch(1, 1);
  const QFont caption = captionFont(font());
  emptyNote_ = new QLabel(QStringLiteral("Locks, jumps, dropouts and stops appear here."), body_);
  emptyNote_->setFont(caption);
  setTextColor(emptyNote_, ColorRole::secondaryLabel);
  grid->addWidget(emptyNote_, 0, 0, 1, 2);
  for (int i = 0; i < kShownLines; ++i) {
    auto* time = new QLabel(body_);
    auto* text = new QLabel(body_);
    time->setFont(caption);
    text->setFont(caption);
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTextColor(time, ColorRole::secondaryLabel);
    // Same font and top alignment put the time on the first baseline of a wrapped line.
    grid->addWidget(time, i + 1, 0, Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(text, i + 1, 1, Qt::AlignTop);
    time->hide();
    text->hide();
    times_.push_back(time);
    texts_.push_back(text);
  }
  clear_ = new QPushButton(QStringLiteral("Clear"), body_);
  clear_->setFont(caption);
  clear_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  grid->addWidget(clear_, kShownLines + 1, 0, 1, 2, Qt::AlignLeft);
  column->addWidget(body_);
  body_->hide();

  connect(disclosure_, &QToolButton::clicked, this, [this] { setExpanded(!expanded_); });
  connect(clear_, &QPushButton::clicked, this, [this] {
    if (store_) store_->setLog({});
  });
  connect(&store, &TimecodeStore::logChanged, this, &LogSection::refresh);
  refresh();
}

void LogSection::setExpanded(bool expanded) {
  if (expanded == expanded_) return;
  expanded_ = expanded;
  disclosure_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
  body_->setVisible(expanded);
  refresh();
}

QString LogSection::title() const {
  return disclosure_->text();
}

void LogSection::refresh() {
  if (!store_) return;
  const std::vector<LogEvent>& log = store_->log();
  disclosure_->setText(QStringLiteral("Log (%1)").arg(log.size()));
  if (!expanded_) return;  // the rows are filled when the group opens
  const std::size_t shown = std::min<std::size_t>(log.size(), kShownLines);
  emptyNote_->setVisible(log.empty());
  clear_->setVisible(!log.empty());
  for (std::size_t i = 0; i < times_.size(); ++i) {
    const bool visible = i < shown;
    if (visible) {
      times_[i]->setText(timeText(log[i].date));
      texts_[i]->setText(QString::fromStdString(log[i].text));
    }
    times_[i]->setVisible(visible);
    texts_[i]->setVisible(visible);
  }
}

QStringList LogSection::shownLines() const {
  QStringList lines;
  if (!expanded_) return lines;
  for (QLabel* text : texts_) {
    if (text->isVisibleTo(body_)) lines.push_back(text->text());
  }
  return lines;
}

bool LogSection::isEmptyNoteShown() const {
  return expanded_ && emptyNote_->isVisibleTo(body_);
}

}  // namespace quillmark
