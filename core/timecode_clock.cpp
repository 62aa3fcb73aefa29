#include "core/timecode_clock.h"

#include <algorithm>
#include <cmath>

namespace quillmark {
namespace {

// Observations further apart than this are a dropout: the input stopped and came back.
constexpr double kGapSeconds = 0.5;
// The window holds the last second of observations (never fewer than 2 once it has grown past them).
constexpr double kWindowSeconds = 1.0;
// An observation within half a frame of the line continues the running time.
constexpr double kHalfFrame = 0.5;
// Fastest code the clock follows from its second point, as a multiple of play speed; readers decode LTC
// up to five times play speed.
constexpr double kFastestSpeed = 5.0;
// Below this span the points are too close in time to fit a slope; the nominal speed stands in.
constexpr double kMinFitSpan = 0.001;
// Pulldown detection needs this much history, and a speed this close to one of the two candidates.
constexpr double kPulldownMinSpan = 0.5;
constexpr double kPulldownTolerance = 0.0003;

// 23.976 shares the labels of 24 and 29.97 ND those of 30, so a position counted at one is a position at
// the other; drop frame counts labels differently and never mixes.
bool compatible(FrameRate a, FrameRate b) noexcept {
  return framesPerSecond(a) == framesPerSecond(b) && isDropFrame(a) == isDropFrame(b);
}

// Moves p by whole days until it lies within half a day of the prediction q, so a label that wraps through
// midnight continues the count. Done by division rather than by stepping one day at a time: a position
// far from q (a damaged count) must not spin the receiving thread, and non-finite values are left alone.
double unwrap(double p, double q, double framesPerDayCount) noexcept {
  if (!std::isfinite(p) || !std::isfinite(q)) return p;
  const double day = framesPerDayCount;
  const double half = day * 0.5;
  const double diff = p - q;
  if (diff > half) {
    p -= std::ceil((diff - half) / day) * day;
  } else if (-diff > half) {
    p += std::ceil((-diff - half) / day) * day;
  }
  // Rounding in the division can leave p one day short or over; settle it with at most a few steps.
  for (int step = 0; step < 4 && p - q > half; ++step) p -= day;
  for (int step = 0; step < 4 && q - p > half; ++step) p += day;
  return p;
}

}  // namespace

TimecodeClock::TimecodeClock() {
  points.reserve(kWindowCapacity);
}

void TimecodeClock::observe(double position, double at, FrameRate nominalRate) noexcept {
  if (!std::isfinite(position) || !std::isfinite(at)) {
    ++rejected;
    return;
  }

  // 1. Unwrap against the running line, a day being counted at the clock's own rate.
  double p = position;
  std::optional<double> predicted;
  if (fit) {
    predicted = fit->position + (at - fit->time) * fit->slope;
    p = unwrap(p, *predicted, static_cast<double>(framesPerDay(rate)));
  }

  // 2.-3. Gap since the newest point, and deviation from the line.
  const bool gap = points.empty() || at - points.back().time > kGapSeconds;
  const double deviation = predicted ? p - *predicted : 0.0;

  bool mustReset = false;
  if (!compatible(nominalRate, rate)) {
    // 4. An incompatible rate is a different kind of code: start over in it.
    rate = nominalRate;
    mustReset = true;
  } else if (points.empty()) {
    mustReset = true;  // 5.
  } else if (gap) {
    // 6. The input resumed after a dropout.
    ++dropouts;
    mustReset = true;
  } else if (fit && fit->slope < 0.0) {
    // Forward code after reverse play: a new acquisition from here, not a jump and not a stray frame.
    mustReset = true;
  } else if (std::abs(deviation) <= kHalfFrame || startsForwardRun(at, p)) {
    pendingJump.reset();
  } else if (pendingJump && confirmsJump(*pendingJump, Point{at, p}, nominalRate)) {
    // The previous stray frame and this one agree on a new running time: a real jump.
    ++jumps;
    --rejected;  // the pending frame no longer counts as rejected
    points.clear();
    points.push_back(*pendingJump);
    fit.reset();
    jitter.reset();
    acquiredAt = pendingJump->time;
    hasLocked = false;
    pendingJump.reset();
  } else {
    // Does not fit the running time; keep running on the line and wait for the next frame to decide.
    pendingJump = Point{at, p};
    ++rejected;
    return;
  }

  if (mustReset) reset(at);  // 7.

  // 8. Append, then trim to the last second (keeping at least 2 earlier points) and to the storage.
  if (points.size() >= kWindowCapacity) points.erase(points.begin());
  points.push_back(Point{at, p});
  std::size_t stale = 0;
  while (points.size() - stale >= 3 && at - points[stale].time > kWindowSeconds) ++stale;
  if (stale > 0) points.erase(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(stale));

  refit();  // 9.

  // 10. Lock once the acquisition has lasted lockTime with enough points to trust the line.
  if (acquiredAt && at - *acquiredAt >= lockTime && points.size() >= 3) hasLocked = true;
}

void TimecodeClock::observeReverse(double position, double at, FrameRate nominalRate) noexcept {
  if (!std::isfinite(position) || !std::isfinite(at)) {
    ++rejected;
    return;
  }
  if (!compatible(nominalRate, rate)) rate = nominalRate;
  // Unwrapped like forward code, so 00:00:00:00 backwards into 23:59:59 keeps counting down.
  const double p = fit ? unwrap(position, fit->position + (at - fit->time) * fit->slope,
                                static_cast<double>(framesPerDay(rate)))
                       : position;
  reset(at);
  points.push_back(Point{at, p});
  fit = Fit{at, p, -realFramesPerSecond(rate)};
}

bool TimecodeClock::runsForwardFrom(const Point& from, double at, double p) const noexcept {
  const double elapsed = at - from.time;
  const double advance = p - from.position;
  return elapsed > 0 && advance > 0 && advance <= elapsed * realFramesPerSecond(rate) * kFastestSpeed;
}

bool TimecodeClock::startsForwardRun(double at, double p) const noexcept {
  // With one point the line runs at play speed only because nothing better is known yet; shuttled or
  // varispeeded code would miss it by frames and never gather a second point. So the second observation
  // joins the first when it runs forward from it at any speed up to kFastestSpeed; the line through the
  // two then measures the speed. (Code played backwards still never joins.)
  return points.size() == 1 && runsForwardFrom(points.front(), at, p);
}

bool TimecodeClock::confirmsJump(const Point& pending, const Point& next,
                                 FrameRate nominalRate) const noexcept {
  // The two agree when the second is where the first would have run to at play speed (a locate), or runs
  // forward from it at any speed the clock follows: a locate while the code is shuttled, or a change of
  // speed faster than the line, which looks back over a second, could follow.
  const double elapsed = next.time - pending.time;
  return std::abs(next.position - (pending.position + elapsed * realFramesPerSecond(nominalRate))) <
             kHalfFrame ||
         runsForwardFrom(pending, next.time, next.position);
}

void TimecodeClock::reset(double at) noexcept {
  pendingJump.reset();
  points.clear();
  fit.reset();
  jitter.reset();
  acquiredAt = at;
  hasLocked = false;
}

void TimecodeClock::resetInput() noexcept {
  points.clear();
  fit.reset();
  acquiredAt.reset();
  pendingJump.reset();
  jitter.reset();
  jumps = 0;
  rejected = 0;
  dropouts = 0;
  hasLocked = false;
}

void TimecodeClock::refit() noexcept {
  const std::size_t n = points.size();
  if (n == 0) return;
  const Point& newest = points.back();
  const double span = newest.time - points.front().time;
  if (n == 1 || span <= kMinFitSpan) {
    fit = Fit{newest.time, newest.position, realFramesPerSecond(rate)};
    return;
  }

  // Offsets from the newest point keep the sums small: host times and positions are large numbers.
  const double count = static_cast<double>(n);
  double sumX = 0.0;
  double sumY = 0.0;
  for (const Point& point : points) {
    sumX += point.time - newest.time;
    sumY += point.position - newest.position;
  }
  const double mx = sumX / count;
  const double my = sumY / count;
  double sxx = 0.0;
  double sxy = 0.0;
  for (const Point& point : points) {
    const double dx = point.time - newest.time - mx;
    const double dy = point.position - newest.position - my;
    sxx += dx * dx;
    sxy += dx * dy;
  }
  const double slope = sxy / sxx;
  fit = Fit{newest.time + mx, newest.position + my, slope};

  // Residuals are turned into seconds through the slope; a line that does not move has no meaningful
  // timing error, so jitter is left out rather than reported as infinite.
  if (n >= 8 && slope != 0.0 && std::isfinite(slope)) {
    double sumSquares = 0.0;
    for (const Point& point : points) {
      const double dx = point.time - newest.time - mx;
      const double dy = point.position - newest.position - my;
      const double seconds = (dy - slope * dx) / slope;
      sumSquares += seconds * seconds;
    }
    jitter = std::sqrt(sumSquares / count);
  } else {
    jitter.reset();
  }

  detectPulldown(slope, span);
}

void TimecodeClock::detectPulldown(double measured, double span) noexcept {
  if (!detectsPulldown || !(span > kPulldownMinSpan)) return;
  double base = 0.0;
  switch (rate) {
    case FrameRate::fps23_976:
    case FrameRate::fps24:
      base = 24.0;
      break;
    case FrameRate::fps29_97ND:
    case FrameRate::fps30:
      base = 30.0;
      break;
    case FrameRate::fps25:
    case FrameRate::fps29_97DF:
      return;  // no pulldown twin to tell apart
  }
  const double e1 = std::abs(measured / base - 1.0);
  const double e2 = std::abs(measured / (base * 1000.0 / 1001.0) - 1.0);
  if (std::min(e1, e2) >= kPulldownTolerance) return;  // neither: leave the rate alone
  const bool pulldown = e2 < e1;                       // ties go to the integer rate
  if (base == 24.0) {
    rate = pulldown ? FrameRate::fps23_976 : FrameRate::fps24;
  } else {
    rate = pulldown ? FrameRate::fps29_97ND : FrameRate::fps30;
  }
}

ClockSnapshot TimecodeClock::snapshot() const noexcept {
  ClockSnapshot result;
  result.rate = rate;
  if (!points.empty()) result.lastInput = points.back().time;
  if (fit) {
    result.fitTime = fit->time;
    result.fitPosition = fit->position;
    result.slope = fit->slope;
  }
  result.hasLocked = hasLocked;
  result.freewheelDuration = freewheelDuration;
  return result;
}

std::optional<double> TimecodeClock::speed() const noexcept {
  if (points.size() < 3 || !fit) return std::nullopt;
  return fit->slope / realFramesPerSecond(rate);
}

}  // namespace quillmark
