// The store's status refresh and event log: the part of TimecodeStore that runs on every timer tick.
#include <utility>

#include "app/timecode_store.h"
#include "core/host_time.h"

namespace quillmark {

void TimecodeStore::refresh() {
  const double now = HostTime::now();
  InputStats input;
  if (settings_.source == SourceKind::ltc && engine_) {
    input.level = engine_->ltcInput.level();
    input.errors = engine_->ltcInput.errors();
  } else if (settings_.source == SourceKind::artnet && engine_) {
    input.errors = static_cast<std::int64_t>(engine_->artnetInput.stats().damaged);
  }
  if (runningArtNetOut() && engine_) {
    // The sender's thread keeps its latest failure; it shows here within a tick and clears the same way.
    std::optional<std::string> error = engine_->artnetOutput.error();
    if (error != artnetOutError()) streams_->setArtNetOutError(std::move(error));
  }
  const Status status = buildStatus(core(), settings_, now, input);
  publish(status);
  logTransitions(status);
}

void TimecodeStore::publish(const Status& status) {
  if (status != live_->status()) live_->setStatus(status);
  ++ticks_;
  if (ticks_ % 15 == 0 && status != details_->status()) details_->setStatus(status);
  if (status.differsCoarselyFrom(status_)) {
    status_ = status;
    emit statusChanged(status_);
    details_->setStatus(status);
  }
}

void TimecodeStore::logTransitions(const Status& status) {
  for (std::string& line : transitions_.next(status, settings_.source)) log(std::move(line));
}

void TimecodeStore::log(std::string text) {
  log_.insert(log_.begin(), LogEvent::make(std::move(text)));
  emit logChanged();
  if (log_.size() > kLogLimit) {
    log_.erase(log_.begin() + kLogLimit, log_.end());
    emit logChanged();
  }
}

void TimecodeStore::setLog(std::vector<LogEvent> log) {
  log_ = std::move(log);
  if (log_.size() > kLogLimit) log_.erase(log_.begin() + kLogLimit, log_.end());
  emit logChanged();
}

}  // namespace quillmark
