#include "core/clock_snapshot.h"

#include <algorithm>

namespace quillmark {

double ClockSnapshot::window() const noexcept {
  // 0.1042708 s at 23.976, 0.1041666 s at 24, exactly 0.1 s at 25 and the 30-label rates. Code running
  // slower than that (shuttle, varispeed: 6 frames/s at a quarter of 24) arrives further apart, so the
  // window is 2.5 of its own frame durations: a locked clock is not in freewheel between two frames.
  const double nominal = realFramesPerSecond(rate);
  const double running = slope > 0 && slope < nominal ? slope : nominal;
  return std::max(2.5 / running, 0.1);
}

std::optional<double> ClockSnapshot::position(double at, double now) const noexcept {
  if (!lastInput) return std::nullopt;
  const double age = now - *lastInput;
  const double live = window();
  if (age <= live || (hasLocked && age < live + freewheelDuration)) {
    return fitPosition + (at - fitTime) * slope;
  }
  return std::nullopt;
}

TimecodeClock::State ClockSnapshot::state(double at) const noexcept {
  using State = TimecodeClock::State;
  if (!lastInput) return State::stopped;
  const double age = at - *lastInput;
  const double live = window();
  if (age <= live) return hasLocked ? State::locked : State::acquiring;
  if (hasLocked && age < live + freewheelDuration) return State::freewheel;
  return State::stopped;
}

}  // namespace quillmark
