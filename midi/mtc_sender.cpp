#include "midi/mtc_sender.h"

#include <algorithm>
#include <cmath>

#include "core/timecode.h"

namespace quillmark {
namespace {

constexpr double kIdleWait = 0.002;         // polling a stopped clock
constexpr double kTooEarly = 0.05;          // a quarter frame further ahead than this is not waited for...
constexpr double kTooEarlyWait = 0.005;     // ...the loop looks again this much later instead
constexpr double kHandOverMargin = 0.0003;  // hand-over this much before the last possible moment

}  // namespace

void MTCSender::pass(double now, const ClockSnapshot& snapshot, const Settings& settings,
                     Wire& wire) noexcept {
  const double offset = settings.offsetFrames;
  const double lead = settings.leadSeconds;
  const double horizon = settings.horizonSeconds;
  // The loop's view of "now": the instant a message handed over now can be written at, at the earliest.
  const double sendNow = now + horizon;

  const std::optional<double> clockPosition =
      snapshot.slope > 0.0 ? snapshot.position(sendNow + lead, now) : std::nullopt;
  const double pos = clockPosition ? offset + *clockPosition : 0.0;
  if (!clockPosition || !std::isfinite(pos) || std::fabs(pos) > 1e15) {
    // Stopped, running backwards or lost: nothing to send, and a full frame once it runs again.
    wire.waitUntil(now + kIdleWait);
    lastIndex_ = 0;
    needFullFrame_ = true;
    return;
  }

  const double quarters = 4.0 * pos;
  const auto target = static_cast<std::int64_t>(std::floor(quarters)) + 1;  // the next quarter to start
  const bool rateChanged =
      !lastFullFrameRate_ || MTC::rateCode(*lastFullFrameRate_) != MTC::rateCode(snapshot.rate);
  if (!needFullFrame_ && !rateChanged) {
    // A position folded into one day (the time-of-day generator at local midnight) continues the same
    // run of quarter frames: shift our count by whole days instead of taking the fold for a jump back,
    // which would send a full frame and cost receivers the midnight label. A day is a whole number of
    // eight-piece groups at every rate, so no piece number or label changes.
    const std::int64_t day = 4 * framesPerDay(snapshot.rate);
    lastIndex_ += std::llround(static_cast<double>(target - lastIndex_) / static_cast<double>(day)) * day;
  }
  const double drift = quarters - static_cast<double>(lastIndex_);
  if (needFullFrame_ || rateChanged || std::fabs(drift) > kStepTolerance) {
    const Timecode timecode = Timecode::fromFrame(static_cast<std::int64_t>(std::floor(pos)), snapshot.rate);
    wire.sendFullFrame(MTC::fullFrame(timecode, snapshot.rate), sendNow);
    lastFullFrameRate_ = snapshot.rate;
    // The full frame stands for everything up to the position: the sequence goes on from the next quarter,
    // also when that is not sent in this pass (a clock slower than 5 fps), so the full frame is not repeated.
    lastIndex_ = target - 1;
    needFullFrame_ = false;
  }
  const std::int64_t index = lastIndex_ + 1;

  // The host time at which the clock, offset and lead applied, reaches the start of quarter frame `index`.
  const double due = snapshot.fitTime +
                     (static_cast<double>(index) / 4.0 - offset - snapshot.fitPosition) / snapshot.slope -
                     lead;
  if (due - sendNow > kTooEarly) {
    wire.waitUntil(now + kTooEarlyWait);  // far ahead (a slow clock, or a step back): look again soon
    return;
  }
  if (sendNow + kHandOverMargin < due) wire.waitUntil(due - kHandOverMargin - horizon);
  wire.sendQuarterFrame(MTC::quarterFrame(index, snapshot.rate), std::max(due, sendNow));
  lastIndex_ = index;
}

}  // namespace quillmark
