#pragma once
// LogEvent: one line of the in-memory event log (newest first, at most 200 lines), with a fresh unique id
// that identifies it in lists and the wall-clock moment it was made.
// Threads: a plain value, copied freely; made on the main thread.

#include <QDateTime>
#include <QUuid>
#include <string>

namespace quillmark {

struct LogEvent {
  QUuid id;
  QDateTime date;  // wall clock, local time
  std::string text;

  bool operator==(const LogEvent&) const = default;

  // A new event now, with a new random id.
  static LogEvent make(std::string text) {
    return LogEvent{QUuid::createUuid(), QDateTime::currentDateTime(), std::move(text)};
  }
};

}  // namespace quillmark
