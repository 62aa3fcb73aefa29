#include "core/generator.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>

#include "core/host_time.h"
#include "core/timecode.h"

namespace quillmark {
namespace {

std::atomic<Generator::WallClockSource> wallClockSource{&Generator::readWallClock};

constexpr Timecode kDefaultStart{1, 0, 0, 0};

// A whole frame count for a position, truncated toward zero and kept inside the range of the count type
// (positions are small in practice; this only keeps a damaged value from being undefined).
std::int64_t wholeFrame(double position) noexcept {
  if (!(position == position)) return 0;
  constexpr double kLimit = 9.0e18;
  if (position >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (position <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(position);
}

}  // namespace

Generator::WallClockReading Generator::readWallClock() noexcept {
  timespec wall{};
  clock_gettime(CLOCK_REALTIME, &wall);
  WallClockReading reading;
  reading.wallSeconds = static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) * 1e-9;
  reading.hostSeconds = HostTime::now();
  return reading;
}

void Generator::setWallClockSource(WallClockSource source) noexcept {
  wallClockSource.store(source != nullptr ? source : &Generator::readWallClock);
}

double Generator::timeOfDayPosition(double at, FrameRate rate) noexcept {
  return timeOfDayPosition(at, rate, wallClockSource.load()());
}

double Generator::timeOfDayPosition(double at, FrameRate rate, WallClockReading reading) noexcept {
  const double wall = reading.wallSeconds + (at - reading.hostSeconds);
  if (!std::isfinite(wall)) return 0.0;
  const double whole = std::floor(wall);
  const double fraction = wall - whole;
  double secondsOfDay = 0.0;
  std::tm local{};
  const auto seconds = static_cast<std::time_t>(whole);
  if (std::abs(whole) < 1e15 && localtime_r(&seconds, &local) != nullptr) {
    // The local clock reading, not the time elapsed since midnight: they differ by an hour on the days
    // daylight-saving time begins or ends, and time-of-day code must match the clock on the wall.
    secondsOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction;
  } else {
    secondsOfDay = wall - std::floor(wall / 86400.0) * 86400.0;  // no calendar: UTC
  }
  return secondsOfDay * realFramesPerSecond(rate);
}

double Generator::runningPosition(double at) const noexcept {
  if (timeOfDay) return timeOfDayPosition(at, rate);
  if (isRunning) return position + (at - startedAt) * realFramesPerSecond(rate);
  return position;
}

ClockSnapshot Generator::snapshot(double at) const noexcept {
  ClockSnapshot result;
  result.rate = rate;
  if (!isRunning && !timeOfDay) {
    result.parkedPosition = position;
    return result;
  }
  result.lastInput = at;
  result.fitTime = at;
  result.fitPosition = runningPosition(at);
  result.slope = realFramesPerSecond(rate);
  result.hasLocked = true;
  return result;
}

Generator Generator::fromSettings(FrameRate rate, bool timeOfDay, std::string_view startText, double now) {
  Generator generator;
  generator.rate = rate;
  generator.timeOfDay = timeOfDay;
  generator.startedAt = now;
  // No validity check: a label such as 00:00:00:27 at 25 fps simply counts on from frame 27. But a count
  // beyond one day (or saturated by absurd fields in a hand-edited setting) is folded into the day, which
  // shows the same label and keeps the position where a double still counts single frames.
  std::optional<Timecode> start = Timecode::parse(startText);
  std::int64_t frame = start ? start->frameNumber(rate) : kDefaultStart.frameNumber(rate);
  if (frame == std::numeric_limits<std::int64_t>::max() ||
      frame == std::numeric_limits<std::int64_t>::min()) {
    frame = kDefaultStart.frameNumber(rate);
  }
  const std::int64_t day = framesPerDay(rate);
  generator.position = static_cast<double>(((frame % day) + day) % day);
  return generator;
}

void Generator::start(double now) noexcept {
  if (isRunning) return;
  isRunning = true;
  startedAt = now;
}

void Generator::stop(double now) noexcept {
  if (!isRunning) return;
  position = runningPosition(now);
  isRunning = false;
}

bool Generator::locate(std::string_view text, FrameRate settingRate, double now) {
  const std::optional<Timecode> label = Timecode::parse(text);
  if (!label || !label->isValid(settingRate)) return false;
  position = static_cast<double>(label->frameNumber(rate));
  startedAt = now;
  return true;
}

void Generator::changeRate(FrameRate newRate, double now) noexcept {
  if (newRate == rate) return;
  const Timecode shown = Timecode::fromFrame(wholeFrame(runningPosition(now)), rate);
  rate = newRate;
  position = static_cast<double>(shown.frameNumber(newRate));
  startedAt = now;
}

}  // namespace quillmark
