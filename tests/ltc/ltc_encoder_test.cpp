#include "ltc/ltc_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/timecode.h"
#include "ltc/ltc_frame.h"
#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

// The signal at `x` bit cells into absolute frame `frame`.
float levelAt(LTCEncoder& encoder, std::int64_t frame, double x) {
  float sample = 0;
  encoder.render(&sample, 1, static_cast<double>(frame) + x / 80.0, 0);
  return sample;
}

// Reads the 64 data bits of a rendered frame back from the waveform: a one flips mid-cell, a zero does not.
std::uint64_t dataBitsOf(LTCEncoder& encoder, std::int64_t frame) {
  std::uint64_t data = 0;
  for (int k = 0; k < 64; ++k) {
    if (levelAt(encoder, frame, k + 0.25) != levelAt(encoder, frame, k + 0.75)) data |= std::uint64_t{1} << k;
  }
  return data;
}

TEST(LTCEncoder, EveryFrameRisesThroughZeroAtItsStartAndEndsLow) {
  LTCEncoder encoder(48000);
  encoder.setAmplitude(0.25f);
  for (std::int64_t frame : {0, 1, 12345, 2159999}) {
    EXPECT_EQ(levelAt(encoder, frame, 0.0), 0.0f);
    EXPECT_EQ(levelAt(encoder, frame, 79.9), -0.25f);
    EXPECT_LT(levelAt(encoder, frame, 79.999), 0.0f);  // already on the rising edge, still below zero
    // Away from every edge the level is exactly the amplitude, one way or the other.
    for (int k = 0; k < 80; ++k) {
      const float v = levelAt(encoder, frame, k + 0.25);
      ASSERT_EQ(std::fabs(v), 0.25f) << "frame " << frame << " bit " << k;
    }
  }
}

TEST(LTCEncoder, WritesTheLabelFlagsAndUserBitsOfTheFrameUnderThePosition) {
  for (FrameRate rate : kAllFrameRates) {
    SCOPED_TRACE(std::string(rawValue(rate)));
    LTCEncoder encoder(48000);
    encoder.setRate(rate);
    encoder.setUserBits(0xCAFEF00D);
    const bool is25 = rate == FrameRate::fps25;
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{1800}, std::int64_t{-1}, framesPerDay(rate) - 1}) {
      const std::uint64_t data = dataBitsOf(encoder, n);
      const LTCFrame frame = LTCFrame::fromData(data, is25);
      EXPECT_EQ(frame.timecode, Timecode::fromFrame(n, rate)) << n;
      EXPECT_EQ(frame.userBits, 0xCAFEF00Du);
      EXPECT_EQ(frame.dropFrame, rate == FrameRate::fps29_97DF);  // bit 10
      EXPECT_EQ(data, frame.dataBits(is25)) << "polarity bit in the wrong place";
    }
  }
}

TEST(LTCEncoder, ChangingTheRateRebuildsTheCachedFrame) {
  LTCEncoder encoder(48000);
  // 00:00:00:00 has no ones of its own, so its polarity bit shows the layout: 59 at 25 fps, 27 otherwise.
  EXPECT_EQ(dataBitsOf(encoder, 0), std::uint64_t{1} << 59);
  encoder.setRate(FrameRate::fps30);
  EXPECT_EQ(dataBitsOf(encoder, 0), std::uint64_t{1} << 27);
}

TEST(LTCEncoder, RenderingInPiecesMatchesOneRun) {
  LTCEncoder whole(44100), pieces(44100);
  whole.setRate(FrameRate::fps29_97DF);
  pieces.setRate(FrameRate::fps29_97DF);
  const double step = 30000.0 / 1001.0 / 44100 * 1.1;
  std::vector<float> a(5000), b(5000);
  whole.render(a.data(), 5000, 1798.3, step);
  pieces.render(b.data(), 1234, 1798.3, step);
  pieces.render(b.data() + 1234, 5000 - 1234, 1798.3 + 1234 * step, step);
  for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 1e-6f) << i;

  std::vector<float> still(64, 9.0f);
  whole.render(still.data(), 64, 100.3, 0);
  for (float v : still) EXPECT_EQ(v, still.front());
}

TEST(LTCEncoder, PositionsWithoutAFrameNumberRenderSilence) {
  LTCEncoder encoder(48000);
  std::vector<float> out(4, 1.0f);
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1e300}) {
    encoder.render(out.data(), 4, bad, 0.001);
    for (float v : out) EXPECT_EQ(v, 0.0f);
  }
}

TEST(LTCEncoder, RenderingDoesNotAllocate) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  LTCEncoder encoder(48000);
  std::vector<float> out(1024);
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    for (int i = 0; i < 200; ++i) {
      encoder.setRate(kAllFrameRates[static_cast<std::size_t>(i) % kAllFrameRates.size()]);
      encoder.render(out.data(), 1024, 90000 + i * 0.6, 25.0 / 48000);
    }
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
}

}  // namespace
}  // namespace quillmark
