#pragma once
// LTCRateDetector decides the nominal frame rate of incoming LTC when the user has not fixed one. It weighs
// the highest frame number seen before the seconds digit rolls over, the measured speed (median frame
// duration over the last 15 frames) and the drop-frame flag, and changes its answer only after the same
// new answer came three times in a row. A roll-over, once seen, outweighs the speed at any play speed
// (shuttle, varispeed) until a frame number it cannot hold disproves it. It answers with the nominal family
// only (24, 25, 29.97 DF, 30); telling 23.976 from 24 or 29.97 ND from 30 by speed is the clock's business.
// Threads: a plain value mutated by one caller at a time (the engine keeps it in a Locked box).
// observe() never allocates.

#include <array>
#include <cstdint>
#include <optional>

#include "core/frame_rate.h"
#include "core/timecode.h"
#include "ltc/ltc_frame.h"

namespace quillmark {

struct LTCRateDetector {
  static constexpr int kMaxDurations = 15;

  // The current answer.
  std::optional<FrameRate> rate;
  // The last (at most 15) frame durations in seconds, oldest first: durations[0 .. durationCount - 1].
  std::array<double, kMaxDurations> durations{};
  int durationCount = 0;
  // The timecode of the previous observed frame.
  std::optional<Timecode> previous;
  // Frames per second deduced from a seconds roll-over: 24, 25 or 30.
  std::optional<std::int64_t> wrapRate;
  // How many consecutive observations proposed `candidate`.
  std::int64_t candidateStreak = 0;
  std::optional<FrameRate> candidate;

  // Feeds one decoded frame (its timecode and dropFrame are used) and its measured duration in seconds.
  // Returns the current answer, present after the first observation. A duration that is not a positive
  // finite number carries no speed evidence and is left out of the median.
  std::optional<FrameRate> observe(const LTCFrame& frame, double duration) noexcept;

  // Forgets everything, as after a break in the code.
  void reset() noexcept { *this = LTCRateDetector{}; }
};

}  // namespace quillmark
