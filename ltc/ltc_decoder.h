#pragma once
// LTCDecoder turns mono audio into LTC frames, each reported with the absolute sample position where it
// began on the tape and its length in samples, so the caller can stamp it with the time its first bit
// arrived. It removes DC, follows the envelope, interpolates zero crossings, reads biphase mark by
// classifying the intervals between confirmed transitions as full or half bit cells, and recognises the
// sync word played forwards or backwards.
//
// Speed: the intervals it accepts come from a band of cell lengths. The home band holds 19 to 38 frames/s
// of real rate (and reads from about 14.6 to 49 frames/s); a SpeedFinder watches every interval with the
// widest bounds and, once it has followed code for a while at a cell length the band cannot hold, moves
// the band by a power of two (down to a quarter of the home speed, up to double it, or four times it where
// the sample rate leaves half cells of at least 2.5 samples). While the band is home the decoder reads
// exactly as a decoder with fixed 19-38 frames/s bounds; silence brings it home.
// Threads: an instance belongs to one thread (a JACK process thread, or main in the file tool). process()
// never allocates, locks or logs: the bit history is fixed-size and `found` is called synchronously.

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "ltc/ltc_frame.h"

namespace quillmark {

class LTCDecoder {
 public:
  // A frame found in the stream.
  struct Frame {
    LTCFrame frame;
    // Absolute sample position (fractional) of the transition that began data bit 0 on the tape. For a
    // frame read backwards that is where its bit 0 ended in arrival order.
    double start = 0;
    // Length of the frame in samples, positive in both directions.
    double length = 0;
    // True when the frame was read from tape playing backwards.
    bool reverse = false;
  };

  explicit LTCDecoder(double sampleRate) noexcept;
  LTCDecoder(const LTCDecoder&) = delete;
  LTCDecoder& operator=(const LTCDecoder&) = delete;

  // Feeds `count` samples whose first has absolute index `startSample` (the caller keeps the index
  // continuous across buffers). `found` is any callable taking `const Frame&`; it is invoked synchronously
  // for each frame completed within this buffer, in order. With count <= 0 only level() is refreshed.
  template <class Found>
  void process(const float* samples, std::int64_t count, std::int64_t startSample, Found&& found) noexcept;

  double sampleRate() const noexcept { return sampleRate_; }
  // Envelope after the last sample processed: what a level meter shows.
  float level() const noexcept { return level_; }
  // Running count of decoding errors: losses while bits were held, a full cell while a half was pending,
  // and a non-finite sample that interrupted a frame. Silence and invalid digits are not errors.
  std::int64_t errors() const noexcept { return errors_; }

  // Below this envelope the signal counts as absent (about -50 dBFS).
  static constexpr float kSilenceLevel = 0.003f;
  // Most bits (and bit starts) kept: enough for a reverse frame framed by two sync words.
  static constexpr int kHistory = 96;
  // The band's scale against home (1): cell lengths it holds are band() times those of 19-38 frames/s,
  // so 2 holds 9.5-19 frames/s and 0.5 holds 38-76.
  double band() const noexcept { return band_; }
  // Largest band (slowest code). The smallest is 0.5 at 44.1 and 48 kHz, 0.25 from 88.2 kHz up, and home
  // below 44.1 kHz (see kMinHalfCell).
  static constexpr double kMaxBand = 4;

 private:
  static constexpr int kRing = 128;  // ring storage for the history, a power of two above kHistory

  // Follows the cell length of any code between the slowest and the fastest band, with the same rules as
  // the decoder itself but without gathering bits, and counts how many intervals in a row it could read.
  struct SpeedFinder {
    double cell = 0;
    bool halfPending = false;
    int run = 0;
    // One interval `d`; the bounds are the widest of all bands.
    void observe(double d, double lowest, double longest, double shortest) noexcept;
  };
  // The finder must have read this many intervals in a row before its cell length may move the band. A
  // wrong octave cannot last that long: a cell taken for twice its length reads zeros as ones but breaks
  // at the first true half cell, at most 66 intervals on (64 data zeros and the sync word's two); one
  // taken for half its length breaks at the first zero.
  static constexpr int kSettledRun = 100;
  // Shortest half cell, in samples, a band may accept: below it the threshold and the interpolated zero
  // crossing no longer place edges well enough.
  static constexpr double kMinHalfCell = 2.5;

  // Moves the band when the finder has settled on a cell length outside the current band's reach.
  void followSpeed() noexcept;
  void setBand(double band) noexcept;

  template <class Found>
  void append(std::uint8_t bit, double start, double end, Found& found) noexcept;
  // Abandons the bits being gathered; one error when any were held. cell and lastEdge are kept.
  void lose() noexcept;
  // Back to idle: no polarity, no edge, no cell estimate, no bits.
  void resetToIdle() noexcept;
  // A non-finite value reached the filter: forget the filter and envelope state so that the decoder is
  // not poisoned for ever, and start over as after silence.
  void recoverFromNonFinite() noexcept;

  std::uint8_t bitAt(int i) const noexcept { return bits_[(bitTotal_ - bitCount_ + i) & (kRing - 1)]; }
  double bitStartAt(int i) const noexcept { return bitStarts_[(bitTotal_ - bitCount_ + i) & (kRing - 1)]; }
  bool matchesSync(int from, bool reversed) const noexcept;

  // Constant after construction.
  const double sampleRate_;
  const float dcCoefficient_;  // one-pole DC blocker, corner near 5 Hz
  const float envelopeDecay_;  // 50 ms time constant
  const double shortestCell_;  // bit cell of an 80-bit frame at 38 frames/s
  const double longestCell_;   // bit cell at 19 frames/s
  const double minBand_;       // fastest band: its half cells stay at least 2.5 samples long
  const double finderShortest_, finderLowest_, finderLongest_;  // the finder's bounds: all bands

  // The current band and the bounds it gives; at home they are those of 19-38 frames/s.
  double band_ = 1;
  double lowestInterval_ = 0;    // 0.35 of the band's shortest cell: shorter is a glitch
  double longestInterval_ = 0;   // 1.4 of the band's longest cell: longer is a loss
  double bandShortestCell_ = 0;  // what a glitch resets the cell estimate to, at least
  // Cell lengths the band keeps: a settled finder outside them, or inside home's own while away from
  // home, moves the band.
  double reachShortest_ = 0, reachLongest_ = 0, homeShortest_ = 0, homeLongest_ = 0;
  SpeedFinder finder_;

  float level_ = 0;
  std::int64_t errors_ = 0;
  float dcIn_ = 0;
  float dcOut_ = 0;
  float envelope_ = 0;
  int state_ = 0;  // confirmed polarity: +1, -1, or 0 for none
  float previous_ = 0;
  double lastZeroCrossing_ = 0;
  std::optional<double> lastEdge_;
  double cell_ = 0;  // running estimate of one full bit cell in samples; 0 = none yet
  std::optional<double> halfPending_;

  // The last bitCount_ (<= kHistory) bits, oldest first, kept in rings indexed by bitTotal_.
  std::array<std::uint8_t, kRing> bits_{};
  std::array<double, kRing> bitStarts_{};
  int bitCount_ = 0;
  std::uint32_t bitTotal_ = 0;
};

inline void LTCDecoder::SpeedFinder::observe(double d, double lowest, double longest,
                                             double shortest) noexcept {
  if (!(lowest < d && d < longest)) {
    halfPending = false;
    run = 0;
    return;
  }
  if (cell == 0) cell = d;
  const double c = cell;
  if (d > 0.75 * c) {
    if (d > 1.5 * c) {
      cell = d;
      halfPending = false;
      run = 0;
      return;
    }
    if (halfPending) run = -1;  // a half cell left unpaired: start counting again
    halfPending = false;
    cell = c + (d - c) * 0.1;
  } else if (d <= 0.25 * c) {
    cell = std::fmax(shortest, 2 * d);
    halfPending = false;
    run = 0;
    return;
  } else {
    cell = c + (2 * d - c) * 0.1;
    halfPending = !halfPending;
  }
  if (run < kSettledRun) ++run;  // saturates: code that runs for days must not overflow it
}

template <class Found>
void LTCDecoder::process(const float* samples, std::int64_t count, std::int64_t startSample,
                         Found&& found) noexcept {
  // The filter state lives in locals for the loop: written through `this`, every store would have to be
  // reloaded because `samples` might alias it, which halves the throughput.
  float dcIn = dcIn_, dcOut = dcOut_, envelope = envelope_, previous = previous_;
  for (std::int64_t i = 0; i < count; ++i) {
    const float x = samples[i];
    const float y = x - dcIn + dcCoefficient_ * dcOut;
    if (!std::isfinite(y)) {
      // NaN or infinity from a broken device or file (or a finite value large enough to overflow the
      // filter) would otherwise stay in the filter and the envelope for ever.
      recoverFromNonFinite();
      dcIn = dcOut = envelope = previous = 0;
      continue;
    }
    dcIn = x;
    dcOut = y;
    const float decayed = envelopeDecay_ * envelope;
    const float magnitude = std::fabs(y);
    envelope = magnitude > decayed ? magnitude : decayed;

    const float p = previous;
    if (p != y && ((p < 0) != (y < 0))) {
      const float fraction = p / (p - y);
      lastZeroCrossing_ = static_cast<double>(startSample + i - 1) + static_cast<double>(fraction);
    }
    previous = y;

    if (envelope <= kSilenceLevel) {
      if (state_ != 0) resetToIdle();
      continue;
    }
    const float h = 0.3f * envelope;
    int polarity;
    if (y > h) {
      polarity = 1;
    } else if (y < -h) {
      polarity = -1;
    } else {
      continue;  // inside the hysteresis band: no decision
    }
    if (polarity == state_) continue;
    if (state_ == 0) {
      state_ = polarity;  // the first decision after silence is not a transition
      continue;
    }

    const double t = lastZeroCrossing_;  // the crossing that preceded the threshold passage
    if (!lastEdge_) {
      lastEdge_ = t;
      state_ = polarity;
      continue;
    }
    const double d = t - *lastEdge_;
    finder_.observe(d, finderLowest_, finderLongest_, finderShortest_);
    if (finder_.run >= kSettledRun) {
      const double s = finder_.cell;
      if (s < reachShortest_ || s > reachLongest_ || (s >= homeShortest_ && s <= homeLongest_)) followSpeed();
    }
    if (!(lowestInterval_ < d && d < longestInterval_)) {
      lose();
    } else {
      if (cell_ == 0) cell_ = d;  // the first interval seeds the estimate, even a half cell
      const double c = cell_;
      if (d > 0.75 * c) {
        if (d > 1.5 * c) {
          cell_ = d;
          lose();
        } else {
          if (halfPending_) {
            halfPending_.reset();
            ++errors_;
          }
          cell_ = c + (d - c) * 0.1;
          append(0, *lastEdge_, t, found);
        }
      } else if (d <= 0.25 * c) {
        cell_ = std::fmax(bandShortestCell_, 2 * d);
        lose();
      } else {
        cell_ = c + (2 * d - c) * 0.1;
        if (!halfPending_) {
          halfPending_ = *lastEdge_;
        } else {
          const double bitStart = *halfPending_;
          halfPending_.reset();
          append(1, bitStart, t, found);
        }
      }
    }
    lastEdge_ = t;
    state_ = polarity;
  }
  dcIn_ = dcIn;
  dcOut_ = dcOut;
  envelope_ = envelope;
  previous_ = previous;
  level_ = envelope;
}

template <class Found>
void LTCDecoder::append(std::uint8_t bit, double start, double end, Found& found) noexcept {
  bits_[bitTotal_ & (kRing - 1)] = bit;
  bitStarts_[bitTotal_ & (kRing - 1)] = start;
  ++bitTotal_;
  if (bitCount_ < kHistory) ++bitCount_;

  const int n = bitCount_;
  if (n < 80) return;
  if (matchesSync(n - 16, false)) {
    std::uint64_t data = 0;
    for (int k = 0; k < 64; ++k) data |= std::uint64_t{bitAt(n - 80 + k)} << k;
    // The flags are always read in the non-25 layout: the rate is not known here.
    const LTCFrame frame = LTCFrame::fromData(data, false);
    if (!frame.hasValidDigits) return;  // a damaged word, dropped without counting an error
    const double begin = bitStartAt(n - 80);
    found(Frame{frame, begin, std::fabs(end - begin), false});
    return;
  }
  if (n >= kHistory && matchesSync(n - 16, true) && matchesSync(n - 96, true)) {
    std::uint64_t data = 0;
    for (int j = 0; j < 64; ++j) data |= std::uint64_t{bitAt(n - 80 + j)} << (63 - j);
    const LTCFrame frame = LTCFrame::fromData(data, false);
    if (!frame.hasValidDigits) return;
    const double begin = bitStartAt(n - 16);
    found(Frame{frame, begin, std::fabs(bitStartAt(n - 96) - begin), true});
  }
}

}  // namespace quillmark
