#include "engine/timecode_engine_core.h"

#include <cstdlib>

namespace quillmark {

TimecodeEngineCore::TimecodeEngineCore()
    : jumpLines_(debug() ? std::make_unique<JumpLinePrinter>() : nullptr) {}

TimecodeEngineCore::~TimecodeEngineCore() = default;

bool TimecodeEngineCore::debug() {
  static const bool enabled = std::getenv("TIMECODE_DEBUG") != nullptr;
  return enabled;
}

void TimecodeEngineCore::observe(double position, double time, FrameRate nominalRate, bool reverse) noexcept {
  if (reverse) {
    clock_.observeReverse(position, time, nominalRate);
  } else {
    clock_.observe(position, time, nominalRate);
  }
}

void TimecodeEngineCore::publishClock() noexcept {
  stats_.clockRate = clock_.rate;
  stats_.measuredRate =
      clock_.points.size() >= 3 && clock_.fit ? std::optional<double>(clock_.fit->slope) : std::nullopt;
  stats_.speed = clock_.speed();
  stats_.jitter = clock_.jitter;
  stats_.jumps = clock_.jumps;
  stats_.rejected = clock_.rejected;
  stats_.dropouts = clock_.dropouts;
}

void TimecodeEngineCore::receiveLTC(const LTCFrame& frame, double time, double duration,
                                    bool reverse) noexcept {
  if (source.load(std::memory_order_relaxed) != SourceKind::ltc) return;
  const std::optional<FrameRate> forced = rateOverride.load(std::memory_order_relaxed);

  // One critical section for the whole frame: the audio input thread takes the lock once per frame, and
  // everything in it is arithmetic on values in place.
  MutexLock guard(mutex_);
  const std::optional<ReceivedFrame>& last = stats_.lastReceived;
  if (last && time - last->time > kDetectorRestartGap) detector_.reset();
  // The detector is not consulted while a rate is forced.
  const FrameRate rate = forced ? *forced : detector_.observe(frame, duration).value_or(FrameRate::fps25);
  const std::int64_t n = frame.timecode.frameNumber(rate);

  // Enough of the clock from before the frame to tell whether it confirmed a jump and, if so, where the
  // old line expected it.
  const std::int64_t jumpsBefore = clock_.jumps;
  const FrameRate rateBefore = clock_.rate;
  const std::optional<TimecodeClock::Fit> fitBefore = clock_.fit;
  observe(static_cast<double>(n), time, rate, reverse);

  if (jumpLines_ && clock_.jumps != jumpsBefore) {
    std::optional<double> expected;
    if (fitBefore) expected = fitBefore->position + (time - fitBefore->time) * fitBefore->slope;
    jumpLines_->report(JumpReport{frame.timecode, rate, n, expected, rateBefore, duration});
  }

  // Shown at the clock's rate after the observation, which may be the pulldown rate it detected.
  stats_.lastReceived = ReceivedFrame{frame.timecode, clock_.rate, frame.userBits, reverse, time};
  ++stats_.counters.ltcFrames;
  publishClock();
}

void TimecodeEngineCore::receiveMTC(const MTCDecoder::Event& event, std::string_view sourceName) noexcept {
  if (source.load(std::memory_order_relaxed) != SourceKind::mtc) return;
  if (!mtcSourceName.isEmptyOrEqualTo(sourceName)) return;
  const std::optional<FrameRate> forced = rateOverride.load(std::memory_order_relaxed);

  if (const MTCDecoder::Event::FullFrame* full = event.asFullFrame()) {
    const FrameRate rate = forced.value_or(full->rate);
    const std::int64_t n = full->timecode.frameNumber(rate);
    MutexLock guard(mutex_);
    clock_.observe(static_cast<double>(n), full->time, rate);
    // A full frame is shown at the rate it was read with, even when the clock has moved to a pulldown rate.
    stats_.lastReceived = ReceivedFrame{full->timecode, rate, std::nullopt, false, full->time};
    ++stats_.counters.fullFrames;
    stats_.counters.mtcSource.assign(sourceName);
    publishClock();
    return;
  }

  const MTCDecoder::Event::Sequence* sequence = event.asSequence();
  if (sequence == nullptr) return;
  const FrameRate rate = forced.value_or(sequence->rate);
  const std::int64_t n = sequence->timecode.frameNumber(rate);
  const auto& times = sequence->quarterTimes;
  // A forward sequence ends during the frame after its label, so that is the frame being shown.
  const Timecode shown = Timecode::fromFrame(sequence->reverse ? n : n + 1, rate);
  const double shownTime = sequence->reverse ? times[0] : times[7];

  MutexLock guard(mutex_);
  if (sequence->reverse) {
    clock_.observeReverse(static_cast<double>(n), times[0], rate);
  } else {
    // Each piece went out a quarter frame after the one before; the label is the frame of piece 0.
    for (int k = 0; k < 8; ++k)
      clock_.observe(static_cast<double>(n) + 0.25 * k, times[static_cast<std::size_t>(k)], rate);
  }
  stats_.lastReceived = ReceivedFrame{shown, clock_.rate, std::nullopt, sequence->reverse, shownTime};
  ++stats_.counters.mtcSequences;
  stats_.counters.mtcSource.assign(sourceName);
  publishClock();
}

void TimecodeEngineCore::receiveArtNet(const ArtNet::ReceivedTimeCode& packet, double time) noexcept {
  if (source.load(std::memory_order_relaxed) != SourceKind::artnet) return;
  const FrameRate rate = rateOverride.load(std::memory_order_relaxed).value_or(packet.rate);
  const std::int64_t n = packet.timecode.frameNumber(rate);
  MutexLock guard(mutex_);
  clock_.observe(static_cast<double>(n), time, rate);
  // A packet stream runs like LTC, so the label is shown at the clock's rate, pulldown included.
  stats_.lastReceived = ReceivedFrame{packet.timecode, clock_.rate, std::nullopt, false, time};
  ++stats_.counters.artnetFrames;
  publishClock();
}

ClockSnapshot TimecodeEngineCore::snapshot(double at) noexcept {
  if (source.load(std::memory_order_relaxed) == SourceKind::generator) {
    // Copy out, then compute: in time-of-day mode the snapshot reads the wall clock, which should not
    // happen under a lock the store may be waiting for.
    const Generator g = generator.read();
    return g.snapshot(at);
  }
  // The clock's snapshot is a handful of numbers; taking it in place avoids copying the point window.
  MutexLock guard(mutex_);
  return clock_.snapshot();
}

ReceptionStats TimecodeEngineCore::stats() const noexcept {
  MutexLock guard(mutex_);
  return stats_;
}

void TimecodeEngineCore::resetInput() noexcept {
  const bool detectsPulldown = !rateOverride.load(std::memory_order_relaxed).has_value();
  MutexLock guard(mutex_);
  clock_.resetInput();
  clock_.detectsPulldown = detectsPulldown;
  detector_.reset();
  stats_.lastReceived.reset();
  stats_.counters.ltcFrames = 0;
  stats_.counters.mtcSequences = 0;
  stats_.counters.fullFrames = 0;
  stats_.counters.artnetFrames = 0;
  stats_.counters.mtcSource.clear();
  publishClock();
}

}  // namespace quillmark
