#pragma once
// The few fields of the store's Status that the state words and the big display read.
// Threads: a pure function, safe anywhere.

#include "app/status.h"
#include "ui/big_timecode_content.h"

namespace quillmark {

inline DisplayedStatus displayedStatus(const Status& status) {
  return DisplayedStatus{status.timecode, status.rate, status.state, status.held, status.generatorRunning};
}

}  // namespace quillmark
