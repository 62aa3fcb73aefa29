#pragma once
// HostTime: the host clock every time stamp above the device layer is expressed in: CLOCK_MONOTONIC, whose
// ticks are nanoseconds.
// Threads: all functions are safe from any thread, real-time ones included; none allocates or blocks.

#include <cstdint>

namespace quillmark::HostTime {

// Seconds -> ticks: max(seconds, 0) * 1e9, truncated toward zero; NaN gives 0, huge values saturate.
std::uint64_t ticks(double seconds) noexcept;

// Ticks -> seconds: ticks / 1e9.
double seconds(std::uint64_t ticks) noexcept;

// The current host clock reading (CLOCK_MONOTONIC) in ticks.
std::uint64_t nowTicks() noexcept;

// The current host time in seconds.
double now() noexcept;

// Sleeps until the host clock reaches `ticks` (an absolute CLOCK_MONOTONIC time); returns at once if it
// has passed. Restarts after signal interruptions.
void waitUntil(std::uint64_t ticks) noexcept;

}  // namespace quillmark::HostTime
