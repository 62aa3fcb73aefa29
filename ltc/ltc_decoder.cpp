#include "ltc/ltc_decoder.h"

namespace quillmark {

LTCDecoder::LTCDecoder(double sampleRate) noexcept
    : sampleRate_(sampleRate),
      // 1 - 2*pi*5/sampleRate, the ratio rounded to single precision before the 1 is added (0.99934548 at
      // 48 kHz), so that every build computes the same filter.
      dcCoefficient_(static_cast<float>(-31.41592653589793 / sampleRate) + 1.0f),
      envelopeDecay_(static_cast<float>(std::exp(-1.0 / (sampleRate * 0.05)))),
      shortestCell_(sampleRate / 3040.0),
      longestCell_(sampleRate / 1520.0) {}

void LTCDecoder::lose() noexcept {
  halfPending_.reset();
  if (bitCount_ > 0) ++errors_;
  bitCount_ = 0;
}

void LTCDecoder::resetToIdle() noexcept {
  state_ = 0;
  lastEdge_.reset();
  cell_ = 0;
  halfPending_.reset();
  bitCount_ = 0;
}

void LTCDecoder::recoverFromNonFinite() noexcept {
  // A frame interrupted by a broken sample is damage, not silence: count it like any other loss.
  if (bitCount_ > 0) ++errors_;
  resetToIdle();
  dcIn_ = 0;
  dcOut_ = 0;
  envelope_ = 0;
  previous_ = 0;
}

bool LTCDecoder::matchesSync(int from, bool reversed) const noexcept {
  for (int k = 0; k < 16; ++k) {
    const std::uint8_t expected = reversed ? kSyncWord[15 - k] : kSyncWord[k];
    if (bitAt(from + k) != expected) return false;
  }
  return true;
}

}  // namespace quillmark
