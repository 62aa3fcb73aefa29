#pragma once
// LockedText: a text that the main thread replaces and other threads compare against, such as the MIDI
// source the engine accepts. The writer builds the new text before it takes the lock and frees the old
// one after, so the lock is held for a swap of two strings' insides (no allocation) and, on the reading
// side, for one comparison.
// Threads: assign and read on the main thread (they allocate); isEmptyOrEqualTo on any thread, without
// allocating.

#include <string>
#include <string_view>
#include <utility>

#include "core/mutex.h"
#include "core/thread_annotations.h"

namespace quillmark {

class LockedText {
 public:
  LockedText() = default;
  LockedText(const LockedText&) = delete;
  LockedText& operator=(const LockedText&) = delete;

  void assign(std::string text) {
    {
      MutexLock guard(mutex_);
      text_.swap(text);
    }
    // `text` now holds the old value and is freed here, outside the lock.
  }

  std::string read() const {
    MutexLock guard(mutex_);
    return text_;
  }

  // True when the text is empty or equals `other` exactly.
  bool isEmptyOrEqualTo(std::string_view other) const noexcept {
    MutexLock guard(mutex_);
    return text_.empty() || std::string_view(text_) == other;
  }

 private:
  mutable Mutex mutex_;
  std::string text_ QM_GUARDED_BY(mutex_);
};

}  // namespace quillmark
