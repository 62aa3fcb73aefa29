#pragma once
// LiveStatus: the holder of the status that changes on every refresh tick (running label, level), so that
// the live views and the display window can observe it without observing the whole store.
// Threads: main thread only; written only by the store's refresh.

#include <QObject>

#include "app/status.h"

namespace quillmark {

class LiveStatus : public QObject {
  Q_OBJECT
 public:
  explicit LiveStatus(QObject* parent = nullptr) : QObject(parent) {}

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
