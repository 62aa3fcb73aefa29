#pragma once
// LogSection: the event log as a collapsible group, collapsed at first and titled "Log (N)". Open, it
// shows the 50 newest lines, newest first, each with its local time, and a "Clear" button that empties
// the store's log; with no lines, a short note of what will appear. Rows are made once and refilled, so a
// busy log costs no widget churn.
// Threads: main thread only.

#include <vector>

#include <QPointer>
#include <QWidget>

#include "app/log_event.h"

class QLabel;
class QPushButton;
class QToolButton;

namespace quillmark {

class TimecodeStore;

class LogSection : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kShownLines = 50;

  explicit LogSection(TimecodeStore& store, QWidget* parent = nullptr);

  bool isExpanded() const { return expanded_; }
  void setExpanded(bool expanded);

  QString title() const;
  // The texts of the rows shown, top to bottom; empty while collapsed.
  QStringList shownLines() const;
  bool isEmptyNoteShown() const;

  QToolButton* disclosureButton() const { return disclosure_; }
  QPushButton* clearButton() const { return clear_; }

  // A wall-clock time as the user's locale writes hours, minutes and seconds.
  static QString timeText(const QDateTime& date);

 private:
  void refresh();

  QPointer<TimecodeStore> store_;
  bool expanded_ = false;
  QToolButton* disclosure_ = nullptr;  // parent-owned, like everything below
  QWidget* body_ = nullptr;
  QLabel* emptyNote_ = nullptr;
  std::vector<QLabel*> times_;
  std::vector<QLabel*> texts_;
  QPushButton* clear_ = nullptr;
};

}  // namespace quillmark
