#include "midi/artnet_sender.h"

#include <algorithm>
#include <cmath>

#include "core/timecode.h"

namespace quillmark {
namespace {

constexpr double kIdleWait = 0.002;  // polling a stopped clock
// A frame is waited for only in its last few milliseconds; before that the loop looks again every two, so
// that a locate or a stop is seen within a few milliseconds, not a whole frame later.
constexpr double kTooEarly = 0.004;
constexpr double kTooEarlyWait = 0.002;
// The clock normally stands in the frame sent last while the loop waits for the next one. Half a frame
// behind it (a step back) or two frames past it (a step forward, or a stall of the loop) is a step.
constexpr double kStepBack = 0.5;
constexpr double kStepForward = 2.0;

}  // namespace

void ArtNetSender::pass(double now, const ClockSnapshot& snapshot, const Settings& settings,
                        Wire& wire) noexcept {
  const double offset = settings.offsetFrames;
  const double lead = settings.leadSeconds;
  const std::optional<double> clockPosition =
      snapshot.slope > 0.0 ? snapshot.position(now + lead, now) : std::nullopt;
  const double pos = clockPosition ? offset + *clockPosition : 0.0;
  if (!clockPosition || !std::isfinite(pos) || std::fabs(pos) > 1e15) {
    wire.waitUntil(now + kIdleWait);
    lastFrame_.reset();
    return;
  }

  const auto standing = static_cast<std::int64_t>(std::floor(pos));
  if (lastFrame_) {
    // A position folded into one day (the time-of-day generator at local midnight) continues the run.
    const std::int64_t day = framesPerDay(snapshot.rate);
    *lastFrame_ += std::llround(static_cast<double>(standing - *lastFrame_) / static_cast<double>(day)) * day;
  }
  if (!lastFrame_ || pos < static_cast<double>(*lastFrame_) - kStepBack ||
      pos >= static_cast<double>(*lastFrame_) + kStepForward) {
    lastFrame_ = standing - 1;  // so that the frame the clock stands in goes next, at once
  }
  const std::int64_t frame = *lastFrame_ + 1;

  // The host time at which the clock, offset and lead applied, reaches the start of `frame`.
  const double due =
      snapshot.fitTime + (static_cast<double>(frame) - offset - snapshot.fitPosition) / snapshot.slope - lead;
  if (due - now > kTooEarly) {
    wire.waitUntil(now + kTooEarlyWait);  // a slow clock: look again soon
    return;
  }
  wire.waitUntil(due);
  wire.send(ArtNet::timeCode(Timecode::fromFrame(frame, snapshot.rate), snapshot.rate), std::max(due, now));
  lastFrame_ = frame;
}

}  // namespace quillmark
