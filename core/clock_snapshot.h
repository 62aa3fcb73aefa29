#pragma once
// ClockSnapshot is the immutable copy of a running time line from which any thread reads position and state
// at its own instant: the engine hands one out per request, built either by the TimecodeClock fitted to
// received code or by the Generator, so the outputs and the display never care where time comes from.
//
// Reading: within the window (2.5 frame durations, at least 0.1 s) after the newest observation the line
// is extrapolated; a clock that has locked keeps extrapolating for freewheelDuration more seconds; after
// that there is no position.
// Threads: a plain value; position and state are pure, lock-free and never allocate.

#include <optional>

#include "core/frame_rate.h"
#include "core/timecode_clock.h"

namespace quillmark {

struct ClockSnapshot {
  FrameRate rate = FrameRate::fps25;
  std::optional<double> lastInput;       // host seconds of the newest observation; none without a live source
  double fitTime = 0.0;                  // host seconds of the line's reference point
  double fitPosition = 0.0;              // frames at fitTime
  double slope = 0.0;                    // frames per second of host time
  bool hasLocked = false;                // whether freewheel is allowed after input ends
  double freewheelDuration = 0.0;        // seconds
  std::optional<double> parkedPosition;  // a stopped generator's position, for display only

  bool operator==(const ClockSnapshot&) const = default;

  // Seconds after lastInput during which the line is read as live: 2.5 frame durations, at least 0.1 s;
  // the durations of the code as it runs (slope) when that is slower than the rate's.
  double window() const noexcept;

  // Frames at host time `at` on the line; none when there is no input or it has aged out.
  // parkedPosition is never consulted here.
  std::optional<double> position(double at) const noexcept { return position(at, at); }

  // Frames at host time `at`, for a reader who asks at host time `now` about a moment ahead of it (the
  // MTC sender about a message's due time, the LTC output about when its buffer will be heard). Whether
  // the input is live is a fact of `now`: judged at `at`, a look-ahead longer than the window would take
  // the newest input for stale, silencing a perfect source such as the generator, and would shorten the
  // freewheel by the look-ahead.
  std::optional<double> position(double at, double now) const noexcept;

  TimecodeClock::State state(double at) const noexcept;
};

}  // namespace quillmark
