#include "core/host_time.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>

namespace quillmark::HostTime {

std::uint64_t ticks(double seconds) noexcept {
  const double t = std::max(seconds, 0.0) * 1e9;
  // NaN fails the comparison above (max returns the NaN) and lands here as 0; huge values saturate
  // instead of being undefined in the conversion.
  if (!(t >= 0.0)) return 0;
  if (t >= 18446744073709551615.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(t);
}

double seconds(std::uint64_t ticks) noexcept {
  return static_cast<double>(ticks) / 1e9;
}

std::uint64_t nowTicks() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<std::uint64_t>(ts.tv_nsec);
}

double now() noexcept {
  return seconds(nowTicks());
}

void waitUntil(std::uint64_t ticks) noexcept {
  timespec deadline{};
  deadline.tv_sec = static_cast<time_t>(ticks / 1000000000ULL);
  deadline.tv_nsec = static_cast<long>(ticks % 1000000000ULL);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace quillmark::HostTime
