#pragma once
// JackHostClock converts JACK's microsecond clock (jack_get_time, the cycle times) into HostTime seconds.
// The two clocks are not the same: jackd2 reads CLOCK_MONOTONIC_RAW where HostTime reads CLOCK_MONOTONIC
// (measured some 185 ms apart here, and drifting apart as NTP slews the latter), and other servers choose
// their own. So the offset is measured, never assumed: the host clock is read just before and just after
// jack_get_time(), and the midpoint of the pair is taken as simultaneous with the JACK reading. A reading
// whose two host reads lie close together was not preempted in between, so of every block of kBlock
// readings the one with the smallest gap sets the offset; blocks are short (a third of a second at 1024
// frames and 48 kHz) so that drift between the clocks never accumulates.
// Threads: one instance belongs to one process thread; nothing here allocates, locks or blocks.

#include <jack/jack.h>

#include <cstdint>

namespace quillmark {

class JackHostClock {
 public:
  // Takes one reading now. Called once per process cycle.
  void measure() noexcept;

  // Feeds one reading: host ticks read just before, JACK microseconds, host ticks read just after.
  void measure(std::uint64_t hostTicksBefore, jack_time_t jackMicroseconds,
               std::uint64_t hostTicksAfter) noexcept;

  // The host time in seconds of a JACK time. REQUIRES: valid().
  double hostSeconds(jack_time_t jackMicroseconds) const noexcept;

  // True once a reading has been taken.
  bool valid() const noexcept { return valid_; }
  // Host nanoseconds minus JACK nanoseconds, as currently used.
  std::int64_t offsetNanoseconds() const noexcept { return offsetNanoseconds_; }

  static constexpr int kBlock = 16;

 private:
  bool valid_ = false;
  std::int64_t offsetNanoseconds_ = 0;
  std::int64_t bestOffsetInBlock_ = 0;
  std::uint64_t bestGapInBlock_ = 0;
  int readingsInBlock_ = 0;
};

}  // namespace quillmark
