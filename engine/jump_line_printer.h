#pragma once
// JumpLinePrinter writes the TIMECODE_DEBUG line for each confirmed LTC jump, off the real-time thread
// that found the jump: the audio input thread queues a plain JumpReport (no string, no allocation, no
// I/O), and the printer's own thread formats the line and writes it to standard error, in one call so that
// other writers cannot tear it. A report that finds the queue full is dropped and counted; at 30 frames a
// second the queue holds more than two seconds of jumps, and the printer empties it every 20 ms.
// Threads: construct and destroy on one (non-real-time) thread; report() from one thread at a time (the
// engine calls it under its reception lock); the counters from any thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/frame_rate.h"
#include "core/timecode.h"
#include "midi/spsc_queue.h"

namespace quillmark {

// What the debug line says about one confirmed jump.
struct JumpReport {
  Timecode timecode;                       // the frame's label
  FrameRate rate = FrameRate::fps25;       // the rate it was counted at
  std::int64_t frameNumber = 0;            // its position at that rate
  std::optional<double> expected;          // where the line before the frame put its time; none without one
  FrameRate clockRate = FrameRate::fps25;  // the clock's rate before the frame
  double duration = 0.0;                   // seconds
};

class JumpLinePrinter {
 public:
  // Starts the printing thread, which writes to `out`.
  explicit JumpLinePrinter(std::FILE* out = stderr);
  // Prints what is still queued, then stops the thread.
  ~JumpLinePrinter();
  JumpLinePrinter(const JumpLinePrinter&) = delete;
  JumpLinePrinter& operator=(const JumpLinePrinter&) = delete;

  // Queues one report for printing; false (and counted) when the queue is full. Never blocks.
  bool report(const JumpReport& jump) noexcept;

  std::uint64_t printed() const noexcept { return printed_.load(std::memory_order_acquire); }
  std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

  // The line for `jump`, line feed included: "jump: LTC 10:06:40:01 as 25 = 910001, expected 900026.00 at
  // clock rate 25, duration 0.04000".
  static std::string line(const JumpReport& jump);

 private:
  void run();
  void printQueued();

  std::FILE* const out_;
  SpscQueue<JumpReport, 64> queue_;
  std::atomic<std::uint64_t> printed_{0};
  std::atomic<std::uint64_t> dropped_{0};
  std::mutex stopMutex_;  // the printing thread's own; never taken by a real-time thread
  std::condition_variable stopRequested_;
  bool stopping_ = false;  // guarded by stopMutex_
  std::thread thread_;
};

}  // namespace quillmark
