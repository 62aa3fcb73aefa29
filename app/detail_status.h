#pragma once
// DetailStatus: the status for the detail rows (measurements and counters), refreshed twice a second and on
// every coarse change, so those rows do not redraw thirty times a second.
// Threads: main thread only; written only by the store's refresh.

#include "app/status_holder.h"

namespace quillmark {

class DetailStatus : public StatusHolder {
 public:
  using StatusHolder::StatusHolder;
};

}  // namespace quillmark
