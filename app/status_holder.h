#pragma once
// StatusHolder: one published Status record that signals on every assignment, changed or not. The store
// keeps two of them, refreshed at different paces (LiveStatus, DetailStatus), so that a view observes only
// the pace it needs.
// Threads: main thread only; written only by the store's refresh.

#include <QObject>

#include "app/status.h"

namespace quillmark {

class StatusHolder : public QObject {
  Q_OBJECT
 public:
  explicit StatusHolder(QObject* parent = nullptr) : QObject(parent) {}

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
