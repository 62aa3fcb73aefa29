#include "ltc/ltc_encoder.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/timecode.h"
#include "ltc/ltc_frame.h"

namespace quillmark {

double LTCEncoder::bitsPerSecond(FrameRate rate) noexcept {
  return realFramesPerSecond(rate) * 80.0;
}

double LTCEncoder::edgeHalfWidth(double step) const noexcept {
  if (!(step > 0.0) || !std::isfinite(step)) return edgeHalfWidth();
  const double cellsPerSecond = step * sampleRate_ * 80.0;
  return std::min(cellsPerSecond * (riseTime_ / 0.6 * 0.5), 0.25);
}

void LTCEncoder::render(float* into, std::int64_t count, double start, double step) noexcept {
  const double w = edgeHalfWidth(step);
  // 2^63 as a double: the first value whose floor no longer fits a signed 64-bit integer.
  constexpr double kFrameLimit = 9223372036854775808.0;
  for (std::int64_t i = 0; i < count; ++i) {
    const double p = static_cast<double>(i) * step + start;
    const double whole = std::floor(p);
    if (!(whole >= -kFrameLimit && whole < kFrameLimit)) {  // also catches NaN
      into[i] = 0.0f;
      continue;
    }
    const auto f = static_cast<std::int64_t>(whole);
    if (!cachedFrame_ || *cachedFrame_ != f) prepare(f);
    const double x = (p - whole) * 80.0;
    into[i] = amplitude_ * level(x, w);
  }
}

void LTCEncoder::prepare(std::int64_t frame) noexcept {
  cachedFrame_ = frame;
  const LTCFrame word{Timecode::fromFrame(frame, rate_), userBits_, isDropFrame(rate_), false, 0, true};
  const std::uint64_t data = word.dataBits(rate_ == FrameRate::fps25);

  transitionCount_ = 0;
  for (int k = 0; k < 80; ++k) {
    const bool one = k < 64 ? ((data >> k) & 1u) != 0 : kSyncWord[k - 64] != 0;
    transitions_[transitionCount_++] = k;                 // every bit starts with a transition
    if (one) transitions_[transitionCount_++] = k + 0.5;  // a one has a second one mid-cell
  }
  transitions_[transitionCount_++] = 80;  // the transition that starts the next frame
}

float LTCEncoder::level(double x, double halfWidth) const noexcept {
  const double* begin = transitions_.data();
  const double* end = begin + transitionCount_;
  const auto j = static_cast<int>(std::upper_bound(begin, end, x) - begin);
  // An even number of transitions per frame means each frame starts low and rises at position 0.
  const float s = (j % 2 == 1) ? 1.0f : -1.0f;
  constexpr double kQuarterTurn = std::numbers::pi * 0.5;
  if (j >= 1) {
    const double d = x - transitions_[j - 1];
    if (d < halfWidth) {
      // Second half of the edge just passed: from 0 up to s.
      const auto rise = static_cast<float>(std::sin(d / halfWidth * kQuarterTurn) * 0.5 + 0.5);
      return 2 * s * rise - s;
    }
  }
  if (j < transitionCount_ && transitions_[j] - x < halfWidth) {
    // First half of the coming edge: from s down to 0.
    const auto fall =
        static_cast<float>(std::sin((x - transitions_[j]) / halfWidth * kQuarterTurn) * 0.5 + 0.5);
    return s - 2 * s * fall;
  }
  return s;
}

}  // namespace quillmark
