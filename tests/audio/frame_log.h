#pragma once
// FrameLog collects what an LTCInput delivers, on its process thread, without allocating: a fixed array of
// entries and a published count. The test thread reads the entries below count().
// Threads: add() from one process thread; count() and at() from the test thread.

#include <array>
#include <atomic>
#include <cstddef>

#include "audio/ltc_input.h"
#include "core/host_time.h"

namespace quillmark::test {

class FrameLog {
 public:
  struct Entry {
    LTCInput::TimedFrame frame;
    double receivedAt = 0;  // HostTime::now() when onFrame was called
    int xruns = 0;          // the interface's xrun count at that moment
  };

  void add(const LTCInput::TimedFrame& frame, int xruns) noexcept {
    const std::size_t n = count_.load(std::memory_order_relaxed);
    if (n == entries_.size()) return;
    entries_[n] = Entry{frame, HostTime::now(), xruns};
    count_.store(n + 1, std::memory_order_release);
  }
  std::size_t count() const noexcept { return count_.load(std::memory_order_acquire); }
  const Entry& at(std::size_t i) const noexcept { return entries_[i]; }

 private:
  std::array<Entry, 4096> entries_{};
  std::atomic<std::size_t> count_{0};
};

}  // namespace quillmark::test
