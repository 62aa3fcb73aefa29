#pragma once
// TimecodeClock fits a straight line, position = fit.position + (t - fit.time) * fit.slope, through the
// last second of observations (a position in frames and the host time it was on the wire). Around the line
// it decides when the input counts as locked, rejects a stray frame unless the next one confirms it as a
// jump, counts dropouts, measures speed and jitter, and tells 23.976 from 24 and 29.97 ND from 30 fps by the
// measured speed. Readers on other threads never touch the clock: they take a ClockSnapshot.
//
// The line is an ordinary least-squares fit computed on offsets from the newest point, so that large host
// times and positions do not eat the precision of the slope.
//
// Threads: a plain value without locking of its own; the engine keeps it in a Locked box and calls observe
// with that lock held. observe, snapshot and speed never allocate once the window's storage has been
// reserved (the default constructor reserves room for kWindowCapacity points, more than MTC at 30 fps
// ever fills).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/frame_rate.h"

namespace quillmark {

struct ClockSnapshot;

struct TimecodeClock {
  enum class State { stopped, acquiring, locked, freewheel };

  struct Point {
    double time = 0.0;      // host seconds
    double position = 0.0;  // frames since midnight at the clock's rate, not folded into one day
    bool operator==(const Point&) const = default;
  };

  struct Fit {
    double time = 0.0;      // host seconds of a point on the line
    double position = 0.0;  // frames at that time
    double slope = 0.0;     // frames per second of host time
    bool operator==(const Fit&) const = default;
  };

  // Storage reserved for the window. MTC fills about 121 points a second at 30 fps; the window never
  // holds more than this, so an input that observes faster than any real transport (a flood of events
  // with near-identical stamps) costs neither memory nor time on the receiving thread.
  static constexpr std::size_t kWindowCapacity = 1024;

  FrameRate rate = FrameRate::fps25;
  bool detectsPulldown = true;
  double freewheelDuration = 2.0;  // seconds beyond the reading window a locked clock keeps running
  double lockTime = 0.2;           // seconds an acquisition must last before it counts as locked
  std::vector<Point> points;       // observation window, oldest first
  std::optional<Fit> fit;
  std::optional<double> acquiredAt;  // host seconds at which the current acquisition began
  std::int64_t jumps = 0;
  std::int64_t rejected = 0;
  std::optional<Point> pendingJump;  // the last observation that missed the line, awaiting confirmation
  std::optional<double> jitter;      // RMS deviation of the window from the line, seconds
  std::int64_t dropouts = 0;
  bool hasLocked = false;

  TimecodeClock();

  // Takes one observation: `position` frames counted at `nominalRate` (quarter-frame fractions allowed),
  // on the wire at host time `at`. Never fails; bad input only shows in the counters. A position or time
  // that is not a finite number is counted as rejected and otherwise ignored.
  void observe(double position, double at, FrameRate nominalRate) noexcept;

  // Takes one frame of code read backwards (reverse play), on the wire at host time `at`. Reverse code
  // never feeds the forward line: the line restarts at this frame running backwards at nominal speed, so
  // readers see a clock that is live but not running forward (the outputs fall silent, the display counts
  // down) and that has not locked (no freewheel plays forward code once reverse play begins). The next
  // forward frame starts a new acquisition, as after a dropout, without counting a jump or a dropout.
  void observeReverse(double position, double at, FrameRate nominalRate) noexcept;

  // The few numbers a reader needs to extrapolate; see core/clock_snapshot.h.
  ClockSnapshot snapshot() const noexcept;

  // Measured speed as a ratio to the real frames per second of `rate` (1.0 = nominal). No value with
  // fewer than 3 points or without a line.
  std::optional<double> speed() const noexcept;

  // Forgets everything learned from the input: window, line, acquisition, counters and lock. `rate`,
  // `detectsPulldown`, `freewheelDuration` and `lockTime` keep their values; the window keeps its storage.
  void resetInput() noexcept;

 private:
  void reset(double at) noexcept;
  bool runsForwardFrom(const Point& from, double at, double position) const noexcept;
  bool startsForwardRun(double at, double position) const noexcept;
  bool confirmsJump(const Point& pending, const Point& next, FrameRate nominalRate) const noexcept;
  void refit() noexcept;
  void detectPulldown(double measured, double span) noexcept;
};

}  // namespace quillmark

// Whoever reads the clock reads it through a snapshot, so make ClockSnapshot complete for every includer.
// (clock_snapshot.h includes this header first; #pragma once makes the pair safe in either order.)
#include "core/clock_snapshot.h"
