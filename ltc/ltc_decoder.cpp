#include "ltc/ltc_decoder.h"

namespace quillmark {

LTCDecoder::LTCDecoder(double sampleRate) noexcept
    : sampleRate_(sampleRate),
      // 1 - 2*pi*5/sampleRate, the ratio rounded to single precision before the 1 is added (0.99934548 at
      // 48 kHz), so that every build computes the same filter.
      dcCoefficient_(static_cast<float>(-31.41592653589793 / sampleRate) + 1.0f),
      envelopeDecay_(static_cast<float>(std::exp(-1.0 / (sampleRate * 0.05)))),
      shortestCell_(sampleRate / 3040.0),
      longestCell_(sampleRate / 1520.0),
      minBand_(0.35 * shortestCell_ * 0.25 >= kMinHalfCell  ? 0.25
               : 0.35 * shortestCell_ * 0.5 >= kMinHalfCell ? 0.5
                                                            : 1.0),
      finderShortest_(shortestCell_ * minBand_),
      finderLowest_(0.35 * finderShortest_),
      finderLongest_(1.4 * longestCell_ * kMaxBand) {
  setBand(1);
}

void LTCDecoder::setBand(double band) noexcept {
  band_ = band;
  // Scaled before the factors are applied, so that at home the bounds are bit for bit those of the fixed
  // 19-38 frames/s decoder.
  bandShortestCell_ = shortestCell_ * band;
  lowestInterval_ = 0.35 * bandShortestCell_;
  longestInterval_ = 1.4 * (longestCell_ * band);
  // Home is left only for code it cannot read (it reads 30 % beyond its cells); any other band is left
  // for a neighbour with the same margin, and for home as soon as the code is back inside 19-38 frames/s.
  reachShortest_ = bandShortestCell_ / 1.3;
  reachLongest_ = longestCell_ * band * 1.3;
  homeShortest_ = band == 1 ? 0 : shortestCell_;
  homeLongest_ = band == 1 ? -1 : longestCell_;
}

void LTCDecoder::followSpeed() noexcept {
  const double s = finder_.cell;
  double band = 1;
  while (band < kMaxBand && s >= longestCell_ * band) band *= 2;
  while (band > minBand_ && s < shortestCell_ * band) band /= 2;
  if (band == band_) return;
  setBand(band);
  cell_ = s;  // the finder has been following this code; the decoder reads on from its estimate
  // Bits gathered on a band that could not hold the code may be misread (a half cell taken for a whole
  // one); only a full history read without a loss, as on a ramp across the band's edge, is kept.
  if (bitCount_ < kHistory) {
    bitCount_ = 0;
    halfPending_.reset();
  }
}

void LTCDecoder::lose() noexcept {
  halfPending_.reset();
  if (bitCount_ > 0) ++errors_;
  bitCount_ = 0;
}

void LTCDecoder::resetToIdle() noexcept {
  finder_ = SpeedFinder{};
  if (band_ != 1) setBand(1);
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
