#pragma once
// LiveStatus: the status that changes on every refresh tick (running label, level), so that the live views
// and the display window can observe it without observing the whole store.
// Threads: main thread only; written only by the store's refresh.

#include "app/status_holder.h"

namespace quillmark {

class LiveStatus : public StatusHolder {
 public:
  using StatusHolder::StatusHolder;
};

}  // namespace quillmark
