#include "ltc/ltc_rate_detector.h"

#include <algorithm>
#include <cmath>

namespace quillmark {
namespace {

// Same nominal label count and same drop-frame-ness: 23.976 agrees with 24, 29.97 ND with 30, but 29.97 DF
// only with itself.
bool agrees(FrameRate a, FrameRate b) noexcept {
  return framesPerSecond(a) == framesPerSecond(b) && isDropFrame(a) == isDropFrame(b);
}

FrameRate rateForWrap(std::int64_t wrapRate) noexcept {
  switch (wrapRate) {
    case 24:
      return FrameRate::fps24;
    case 25:
      return FrameRate::fps25;
    default:
      return FrameRate::fps30;
  }
}

// Speeds within 12 % of some nominal rate; outside them the code is shuttled or varispeeded and its speed
// says nothing about its rate (2.5x of 25 is no 30 fps code), so only frame numbers speak, from 25 fps,
// the rate the engine assumes without an answer.
constexpr double kSlowestTelling = 24.0 * 0.88, kFastestTelling = 30.0 * 1.12;

FrameRate bySpeed(const LTCFrame& frame, double speed) noexcept {
  if (frame.dropFrame) return FrameRate::fps29_97DF;
  FrameRate estimate = !(speed >= kSlowestTelling && speed <= kFastestTelling) ? FrameRate::fps25
                       : speed < 24.5                                          ? FrameRate::fps24
                       : speed < 27.5                                          ? FrameRate::fps25
                                                                               : FrameRate::fps30;
  // A frame number the speed guess cannot hold overrules it.
  const std::int64_t frames = frame.timecode.frames;
  if (frames >= 25) {
    estimate = FrameRate::fps30;
  } else if (frames == 24 && estimate == FrameRate::fps24) {
    estimate = FrameRate::fps25;
  }
  return estimate;
}

}  // namespace

std::optional<FrameRate> LTCRateDetector::observe(const LTCFrame& frame, double duration) noexcept {
  const Timecode& now = frame.timecode;
  if (previous && now.frames == 0 && now.seconds == (previous->seconds + 1) % 60 &&
      (previous->frames == 23 || previous->frames == 24 || previous->frames == 29)) {
    wrapRate = previous->frames + 1;
  }
  previous = now;

  if (std::isfinite(duration) && duration > 0) {
    if (durationCount == kMaxDurations) {
      std::copy(durations.begin() + 1, durations.end(), durations.begin());
      --durationCount;
    }
    durations[durationCount++] = duration;
  }

  // Upper median of the durations. Without one usable duration yet there is no speed evidence; assume
  // 25 frames/s, the rate the engine falls back to, and let the frame numbers speak.
  double speed = 25.0;
  if (durationCount > 0) {
    std::array<double, kMaxDurations> sorted = durations;
    std::sort(sorted.begin(), sorted.begin() + durationCount);
    speed = 1.0 / sorted[durationCount / 2];
  }

  // A roll-over says how many labels a second holds whatever the play speed, so it outweighs the speed
  // until it is disproved: a frame number it cannot hold means the code changed (a new tape), and the
  // speed decides again until the next roll-over. (Comparing the speed with it would take 25 fps code
  // varispeeded to 0.8x for 24 fps code, and shuttled code for anything.)
  if (wrapRate && now.frames >= *wrapRate) wrapRate.reset();
  const FrameRate estimate = !wrapRate         ? bySpeed(frame, speed)
                             : frame.dropFrame ? FrameRate::fps29_97DF
                                               : rateForWrap(*wrapRate);

  if (!rate) {
    rate = estimate;
    return rate;
  }
  if (agrees(estimate, *rate)) {
    candidateStreak = 0;
    return rate;
  }
  if (candidate == estimate) {
    if (++candidateStreak >= 3) {
      rate = estimate;
      candidateStreak = 0;
    }
    return rate;
  }
  candidate = estimate;
  candidateStreak = 1;
  return rate;
}

}  // namespace quillmark
