#pragma once
// LTCPhaseTracker keeps rendered LTC phase-continuous from one output buffer to the next. The clock's
// position for a buffer is read at that buffer's host time, and on a real device that time wanders by
// tens to hundreds of microseconds from cycle to cycle (more after an xrun), while each refit of the clock
// moves its line a little. Starting every buffer at the clock's position would cut a fraction of a bit
// cell out of the signal, or add one, at every buffer boundary; a fraction that large turns a half cell
// into a whole one, the reader slips a bit and a word decodes as a wildly different label. So the tracker
// continues the previous buffer's phase and steers it toward the clock by a small change of speed, and it
// follows the clock at once only when they part by half a frame or more (a real jump, a restart, an
// offset change the user made).
// Threads: belongs to one output's render thread; next() never allocates, locks or logs.

#include <cstdint>
#include <optional>

namespace quillmark {

class LTCPhaseTracker {
 public:
  // Where and how fast one buffer renders: the position of its first sample and the advance per sample,
  // both in frames.
  struct Run {
    double start = 0.0;
    double step = 0.0;
    bool operator==(const Run&) const = default;
  };

  // Parting from the clock at or beyond which the output follows it at once, in frames.
  static constexpr double kJumpFrames = 0.5;
  // Largest change of speed used to steer toward the clock, as a fraction of its speed. Readers follow
  // far larger changes; 1% absorbs typical timing noise within one buffer of 1024 samples.
  static constexpr double kMaxSteer = 0.01;

  // The run for a buffer of `count` samples whose first sample the clock puts at `target`, advancing
  // `step` per sample (> 0). A target or step that is not a finite number is passed through untouched and
  // forgets the phase.
  Run next(double target, double step, std::int64_t count) noexcept;

  // Forgets the phase: the next buffer starts exactly at its target. Call it whenever the output fell
  // silent or changed its frame rate.
  void reset() noexcept { expected_.reset(); }

  // Where the next buffer's first sample continues the last one; none after a reset.
  std::optional<double> expected() const noexcept { return expected_; }

 private:
  std::optional<double> expected_;
};

}  // namespace quillmark
