#include "audio/jack_host_clock.h"

#include "core/host_time.h"

namespace quillmark {

void JackHostClock::measure() noexcept {
  const std::uint64_t before = HostTime::nowTicks();
  const jack_time_t jack = jack_get_time();
  const std::uint64_t after = HostTime::nowTicks();
  measure(before, jack, after);
}

void JackHostClock::measure(std::uint64_t hostTicksBefore, jack_time_t jackMicroseconds,
                            std::uint64_t hostTicksAfter) noexcept {
  // Host ticks are nanoseconds (the timebase is 1/1 on CLOCK_MONOTONIC).
  const std::uint64_t gap = hostTicksAfter >= hostTicksBefore ? hostTicksAfter - hostTicksBefore : 0;
  const std::int64_t midpoint = static_cast<std::int64_t>(hostTicksBefore + gap / 2);
  const std::int64_t offset = midpoint - static_cast<std::int64_t>(jackMicroseconds) * 1000;
  if (readingsInBlock_ == 0 || gap < bestGapInBlock_) {
    bestGapInBlock_ = gap;
    bestOffsetInBlock_ = offset;
  }
  if (!valid_) {
    // Until the first block completes, the first reading is far better than nothing.
    offsetNanoseconds_ = offset;
    valid_ = true;
  }
  if (++readingsInBlock_ == kBlock) {
    offsetNanoseconds_ = bestOffsetInBlock_;
    readingsInBlock_ = 0;
  }
}

double JackHostClock::hostSeconds(jack_time_t jackMicroseconds) const noexcept {
  const std::int64_t hostNanoseconds =
      static_cast<std::int64_t>(jackMicroseconds) * 1000 + offsetNanoseconds_;
  return HostTime::seconds(hostNanoseconds > 0 ? static_cast<std::uint64_t>(hostNanoseconds) : 0);
}

}  // namespace quillmark
