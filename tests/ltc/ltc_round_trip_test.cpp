// Encoder to decoder at every rate and sample rate, in both directions, at off-speeds and through the
// damage a real signal path adds.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "ltc/ltc_rate_detector.h"
#include "tests/ltc/ltc_signal.h"

namespace quillmark {
// Test names show the rate by its raw value.
static void PrintTo(FrameRate rate, std::ostream* os) {
  *os << rawValue(rate);
}
}  // namespace quillmark

namespace quillmark::test {
namespace {

struct Condition {
  const char* name;
  double speed = 1.0;
  bool reversed = false;
  double noiseRms = 0;  // white noise; the code's RMS is its amplitude, 0.5
  float gain = 1.0f;
  float dcOffset = 0;
};

const Condition kConditions[] = {
    {"forward"},
    {"time-reversed", 1.0, true},
    {"speed 0.8", 0.8},
    {"speed 1.4", 1.4},
    {"white noise at 20 dB SNR", 1.0, false, 0.05},
    {"inverted polarity", 1.0, false, 0, -1.0f},
    {"DC offset 0.2", 1.0, false, 0, 1.0f, 0.2f},
};

class LTCRoundTrip : public ::testing::TestWithParam<std::tuple<FrameRate, double>> {};

TEST_P(LTCRoundTrip, EveryFrameComesBackWithLabelUserBitsAndDropFlag) {
  const auto [rate, sampleRate] = GetParam();
  const std::uint32_t userBits = 0x5EED0000u | static_cast<std::uint32_t>(sampleRate / 100);
  // Starts just before a minute boundary so that 29.97 DF skips its two labels inside the run.
  const std::int64_t first = Timecode{0, 0, 59, 10}.frameNumber(rate);
  constexpr int kFrames = 50;
  std::mt19937 random(1234);

  for (const Condition& c : kConditions) {
    SCOPED_TRACE(c.name);
    // One frame more than counted, so that the last counted frame's closing transition is in the signal.
    const double seconds = (kFrames + 1) / (realFramesPerSecond(rate) * c.speed);
    std::vector<float> signal =
        renderCode(rate, sampleRate, static_cast<double>(first), seconds, c.speed, userBits);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(c.noiseRms));
    for (float& s : signal) s = s * c.gain + c.dcOffset + (c.noiseRms > 0 ? noise(random) : 0.0f);
    if (c.reversed) std::reverse(signal.begin(), signal.end());

    const auto frames = decodeAll(sampleRate, signal);
    // The decoder needs up to two frames to settle (80 bits forward, 96 reversed) before its first report.
    ASSERT_GE(frames.size(), static_cast<std::size_t>(kFrames - 2));
    ASSERT_LE(frames.size(), static_cast<std::size_t>(kFrames));
    for (std::size_t i = 0; i < frames.size(); ++i) {
      // Forward the reports end at the last counted frame. Reversed they end at the second: the first
      // one is only framed by the sync word of a frame before it, which the run does not hold.
      const std::int64_t n = c.reversed ? first + 1 + static_cast<std::int64_t>(frames.size() - 1 - i)
                                        : first + kFrames - static_cast<std::int64_t>(frames.size() - i);
      const LTCFrame& got = frames[i].frame;
      ASSERT_EQ(got.timecode, Timecode::fromFrame(n, rate)) << "report " << i;
      EXPECT_EQ(got.userBits, userBits);
      EXPECT_EQ(got.dropFrame, rate == FrameRate::fps29_97DF);
      EXPECT_EQ(frames[i].reverse, c.reversed);
      EXPECT_NEAR(frames[i].length, sampleRate / (realFramesPerSecond(rate) * c.speed), 1.0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllRatesAndSampleRates, LTCRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kAllFrameRates),
                                            ::testing::Values(44100.0, 48000.0, 96000.0)));

TEST(LTCRateDetector, NamesTheRateOfDecodedCode) {
  for (FrameRate rate : {FrameRate::fps24, FrameRate::fps25, FrameRate::fps29_97DF, FrameRate::fps30}) {
    SCOPED_TRACE(std::string(rawValue(rate)));
    const auto frames = decodeAll(48000, renderCode(rate, 48000, 0, 3.0));
    LTCRateDetector detector;
    std::optional<FrameRate> answer;
    for (const auto& f : frames) {
      answer = detector.observe(f.frame, f.length / 48000);
      ASSERT_TRUE(answer.has_value());
    }
    EXPECT_EQ(answer, rate);
  }
}

}  // namespace
}  // namespace quillmark::test
