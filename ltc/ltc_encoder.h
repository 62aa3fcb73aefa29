#pragma once
// LTCEncoder renders LTC audio for any run of output samples from the timecode position of the first
// sample and the advance per sample, both in frames. Every sample is computed from its own position, so
// the output follows a clock at any speed, across jumps and from mid-frame. The biphase-mark transitions
// of the frame under the position are laid out once and cached; edges are raised-sine segments of a fixed
// rise time in seconds, so the square wave stays band-limited at every frame rate and play speed.
// Threads: one encoder belongs to one output's render thread (or main in the file tool). render() never
// allocates, locks or logs; the transition list is a fixed array.

#include <array>
#include <cstdint>
#include <optional>

#include "core/frame_rate.h"

namespace quillmark {

class LTCEncoder {
 public:
  explicit LTCEncoder(double sampleRate) noexcept : sampleRate_(sampleRate) {}
  LTCEncoder(const LTCEncoder&) = delete;
  LTCEncoder& operator=(const LTCEncoder&) = delete;

  // Writes all `count` samples: sample i is the signal at frame position start + i * step (absolute frame
  // count since 00:00:00:00 plus fraction). A position that is not finite or whose frame number does not
  // fit in 64 bits renders silence rather than undefined behaviour.
  void render(float* into, std::int64_t count, double start, double step) noexcept;

  double sampleRate() const noexcept { return sampleRate_; }

  FrameRate rate() const noexcept { return rate_; }
  // Changing the rate drops the cached frame, so the next sample rebuilds it even if the frame number is
  // unchanged.
  void setRate(FrameRate rate) noexcept {
    if (rate != rate_) cachedFrame_.reset();
    rate_ = rate;
  }

  // Peak output level; full scale is 1.0.
  float amplitude() const noexcept { return amplitude_; }
  void setAmplitude(float amplitude) noexcept { amplitude_ = amplitude; }

  // User bits written into every frame.
  std::uint32_t userBits() const noexcept { return userBits_; }
  void setUserBits(std::uint32_t bits) noexcept {
    if (bits != userBits_) cachedFrame_.reset();
    userBits_ = bits;
  }

  // Rise time of every edge in seconds; the whole edge lasts riseTime / 0.6.
  double riseTime() const noexcept { return riseTime_; }
  void setRiseTime(double seconds) noexcept { riseTime_ = seconds; }

  // LTC bits per second at `rate`: 80 per frame of real time.
  static double bitsPerSecond(FrameRate rate) noexcept;

  // Half the width of an edge in bit cells at the current rate and rise time, at play speed.
  double edgeHalfWidth() const noexcept { return bitsPerSecond(rate_) * (riseTime_ / 0.6 * 0.5); }
  // The same for a render advancing `step` frames per sample: faster play crosses more bit cells per
  // second, so the edge covers more of them and still lasts riseTime / 0.6 seconds. Capped at a quarter
  // cell, where the two edges of a one (half a cell apart) meet; a step that is not positive (a clock
  // standing still) keeps the play-speed width.
  double edgeHalfWidth(double step) const noexcept;

 private:
  static constexpr int kMaxTransitions = 161;  // 81 bit boundaries + at most 80 mid-cell transitions

  // Lays out the transitions of absolute frame `frame` at the current rate.
  void prepare(std::int64_t frame) noexcept;
  // The normalised signal (-1 .. +1) at `x` bit cells into the cached frame.
  float level(double x, double halfWidth) const noexcept;

  const double sampleRate_;
  FrameRate rate_ = FrameRate::fps25;
  float amplitude_ = 0.5f;
  std::uint32_t userBits_ = 0;
  double riseTime_ = 0.000025;
  // Transition positions of the cached frame in bit cells from its start, ascending.
  std::array<double, kMaxTransitions> transitions_{};
  int transitionCount_ = 0;
  std::optional<std::int64_t> cachedFrame_;
};

}  // namespace quillmark
