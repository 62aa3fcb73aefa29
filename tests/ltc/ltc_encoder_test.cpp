#include "ltc/ltc_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

// The signal at `x` bit cells into absolute frame `frame`.
float levelAt(LTCEncoder& encoder, std::int64_t frame, double x) {
  float sample = 0;
  encoder.render(&sample, 1, static_cast<double>(frame) + x / 80.0, 0);
  return sample;
}

TEST(LTCEncoder, EveryFrameRisesThroughZeroAtItsStartAndEndsLow) {
  LTCEncoder encoder(48000);
  encoder.setAmplitude(0.25f);
  for (std::int64_t frame : {0, 1, 12345, 2159999}) {
    EXPECT_EQ(levelAt(encoder, frame, 0.0), 0.0f);
    EXPECT_EQ(levelAt(encoder, frame, 79.9), -0.25f);
    EXPECT_LT(levelAt(encoder, frame, 79.999), 0.0f);  // already on the rising edge, still below zero
    // Away from every edge the level is exactly the amplitude, one way or the other.
    for (int k = 0; k < 80; ++k)
      ASSERT_EQ(std::fabs(levelAt(encoder, frame, k + 0.25)), 0.25f) << frame << " " << k;
  }
}

TEST(LTCEncoder, ChangingTheRateRebuildsTheCachedFrame) {
  // Bit 27 is a one mid-cell in 00:00:00:00 only where it is the polarity bit: at 30 fps, not at 25.
  LTCEncoder encoder(48000);
  const auto bit27 = [&] { return levelAt(encoder, 0, 27.25) != levelAt(encoder, 0, 27.75); };
  EXPECT_FALSE(bit27());
  encoder.setRate(FrameRate::fps30);
  EXPECT_TRUE(bit27());
}

TEST(LTCEncoder, RenderingInPiecesMatchesOneRunAndAStillPositionHoldsItsLevel) {
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
