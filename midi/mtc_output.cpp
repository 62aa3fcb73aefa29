#include "midi/mtc_output.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/host_time.h"
#include "midi/mtc.h"

namespace quillmark {
namespace {

constexpr double kIdleWait = 0.002;         // polling a stopped clock
constexpr double kTooEarly = 0.05;          // a quarter frame further ahead than this is not waited for...
constexpr double kTooEarlyWait = 0.005;     // ...the loop looks again this much later instead
constexpr double kHandOverMargin = 0.0003;  // hand-over this much before the last possible moment

void waitUntilSeconds(double hostSeconds) noexcept {
  HostTime::waitUntil(HostTime::ticks(hostSeconds));
}

}  // namespace

ClockSnapshot idleClockSnapshot() noexcept {
  return ClockSnapshot{};  // fps25, no lastInput, a flat line at 0, never locked, no freewheel
}

MTCOutput::MTCOutput(std::shared_ptr<MIDIPorts> ports) : ports_(std::move(ports)) {}

MTCOutput::~MTCOutput() {
  stop();
  if (retiring_.joinable()) retiring_.join();
}

void MTCOutput::setClock(ClockFunction clock) {
  clock_ = std::move(clock);
}

void MTCOutput::start(std::uint32_t newDestination) {
  destination.withLock([&](std::uint32_t& value) { value = newDestination; });
  ports_->route(newDestination);
  if (thread_.joinable()) return;  // the running loop picks up the destination on its next pass
  // A loop stopped a moment ago may still be in its last pass; it must be gone before a new one sends.
  if (retiring_.joinable()) retiring_.join();
  running.withLock([](bool& value) { value = true; });
  thread_ = std::thread([this] { run(); });
}

void MTCOutput::stop() {
  running.withLock([](bool& value) { value = false; });
  if (!thread_.joinable()) return;
  if (retiring_.joinable()) retiring_.join();  // cannot be running: only one loop is ever started at once
  retiring_ = std::move(thread_);
}

void MTCOutput::run() noexcept {
  pthread_setname_np(pthread_self(), "MTC output");
  // Real-time scheduling keeps the wake-ups close to the hand-over instants. Without the privilege
  // the request fails and the loop runs at normal priority: the time stamps still carry the precision.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

  SenderState state;
  while (running.read()) pass(state);
}

void MTCOutput::pass(SenderState& state) noexcept {
  const double now = HostTime::now();
  const ClockSnapshot snapshot = clock_ ? clock_() : idleClockSnapshot();
  const double offset = offsetFrames.read();
  const double lead = leadTime.read();
  const std::uint32_t dest = destination.read();
  // The loop's view of "now": the instant a message handed over now can be written at, at the earliest.
  const double horizon = ports_->sendAheadHorizon(dest);
  const double sendNow = now + horizon;

  const std::optional<double> clockPosition =
      snapshot.slope > 0.0 ? snapshot.position(sendNow + lead) : std::nullopt;
  const double pos = clockPosition ? offset + *clockPosition : 0.0;
  if (!clockPosition || !std::isfinite(pos) || std::fabs(pos) > 1e15) {
    waitUntilSeconds(now + kIdleWait);
    state.lastIndex = 0;
    state.needFullFrame = true;
    return;
  }

  const auto target = static_cast<std::int64_t>(std::floor(4.0 * pos)) + 1;
  const bool rateChanged =
      !state.lastFullFrameRate || MTC::rateCode(*state.lastFullFrameRate) != MTC::rateCode(snapshot.rate);
  if (!state.needFullFrame && !rateChanged) {
    // A position folded into one day (the time-of-day generator at local midnight) continues the same
    // run of quarter frames: shift our count by whole days instead of taking the fold for a jump back,
    // which would send a full frame and cost receivers the midnight label. A day is a whole number of
    // eight-piece groups at every rate, so no piece number or label changes.
    const std::int64_t day = 4 * framesPerDay(snapshot.rate);
    state.lastIndex +=
        std::llround(static_cast<double>(target - state.lastIndex) / static_cast<double>(day)) * day;
  }
  std::int64_t index = state.lastIndex + 1;
  if (state.needFullFrame || target < state.lastIndex || target > state.lastIndex + 2 || rateChanged) {
    const Timecode timecode = Timecode::fromFrame(static_cast<std::int64_t>(std::floor(pos)), snapshot.rate);
    const MTC::FullFrameMessage message = MTC::fullFrame(timecode, snapshot.rate);
    ports_->send(dest, message, sendNow);
    fullFrames_.fetch_add(1, std::memory_order_relaxed);
    index = target;
    state.lastFullFrameRate = snapshot.rate;
  }

  // The host time at which the clock, offset and lead applied, reaches the start of quarter frame `index`.
  const double due = snapshot.fitTime +
                     (static_cast<double>(index) / 4.0 - offset - snapshot.fitPosition) / snapshot.slope -
                     lead;
  if (due - sendNow > kTooEarly) {
    // Far ahead (a slow clock): look again soon. lastIndex and needFullFrame stay as they were, so a
    // full frame sent in this pass is sent again with the next attempt.
    waitUntilSeconds(now + kTooEarlyWait);
    return;
  }
  if (sendNow + kHandOverMargin < due) waitUntilSeconds(due - kHandOverMargin - horizon);
  const MTC::QuarterFrameMessage message = MTC::quarterFrame(index, snapshot.rate);
  ports_->send(dest, message, std::max(due, sendNow));
  quarterFrames_.fetch_add(1, std::memory_order_relaxed);
  state.needFullFrame = false;
  state.lastIndex = index;
}

}  // namespace quillmark
