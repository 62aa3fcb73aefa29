#pragma once
// DetailStatus: the holder of the status for the detail rows (measurements and counters), refreshed twice a
// second and on every coarse change, so those rows do not redraw thirty times a second.
// Threads: main thread only; written only by the store's refresh.

#include <QObject>

#include "app/status.h"

namespace quillmark {

class DetailStatus : public QObject {
  Q_OBJECT
 public:
  explicit DetailStatus(QObject* parent = nullptr) : QObject(parent) {}

  const Status& status() const noexcept { return status_; }
  // Stores the record and signals, whether or not it changed.
  void setStatus(const Status& status) {
    status_ = status;
    emit statusChanged(status_);
  }

 signals:
  void statusChanged(const quillmark::Status& status);

 private:
  Status status_;
};

}  // namespace quillmark
