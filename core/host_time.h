#pragma once
// HostTime: the host clock every time stamp above the device layer is expressed in. Here the host clock is
// CLOCK_MONOTONIC and a tick is one nanosecond, so the timebase is 1/1; the conversions keep the general
// numer/denom form so that their rounding stays exactly as documented.
// Threads: all functions are safe from any thread, real-time ones included; none allocates or blocks.

#include <cstdint>

namespace quillmark::HostTime {

struct Timebase {
  double numer = 1.0;
  double denom = 1.0;
};

// Host clock ticks per nanosecond, as numer/denom. CLOCK_MONOTONIC counts nanoseconds.
inline constexpr Timebase timebase{};

// Seconds -> ticks: max(seconds, 0) * 1e9 * denom / numer, truncated toward zero.
std::uint64_t ticks(double seconds) noexcept;

// Ticks -> seconds: numer * ticks / denom / 1e9.
double seconds(std::uint64_t ticks) noexcept;

// The current host clock reading (CLOCK_MONOTONIC) in ticks.
std::uint64_t nowTicks() noexcept;

// The current host time in seconds.
double now() noexcept;

// Sleeps until the host clock reaches `ticks` (an absolute CLOCK_MONOTONIC time); returns at once if it
// has passed. Restarts after signal interruptions.
void waitUntil(std::uint64_t ticks) noexcept;

}  // namespace quillmark::HostTime
