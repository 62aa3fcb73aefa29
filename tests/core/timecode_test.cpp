#include "core/timecode.h"

#include <gtest/gtest.h>

#include <limits>

namespace quillmark {
namespace {

Timecode tc(std::int64_t h, std::int64_t m, std::int64_t s, std::int64_t f) {
  return Timecode{h, m, s, f};
}

TEST(Timecode, EveryCountOfTheDayRoundTripsThroughItsLabelAtEveryRate) {
  for (FrameRate rate : kAllFrameRates) {
    for (std::int64_t frame = 0; frame < framesPerDay(rate); ++frame) {
      const Timecode label = Timecode::fromFrame(frame, rate);
      ASSERT_TRUE(label.isValid(rate)) << rawValue(rate) << " " << frame;
      ASSERT_EQ(label.frameNumber(rate), frame) << rawValue(rate) << " " << label.description();
    }
  }
  // Counts outside the day fold into it.
  EXPECT_EQ(Timecode::fromFrame(-1, FrameRate::fps25), tc(23, 59, 59, 24));
  EXPECT_TRUE(Timecode::fromFrame(std::numeric_limits<std::int64_t>::min(), FrameRate::fps29_97DF)
                  .isValid(FrameRate::fps29_97DF));
}

TEST(Timecode, ValidityFollowsEachRatesLabelsAndDropFrameSkipsTwoInMinutesNotDivisibleByTen) {
  const auto df = FrameRate::fps29_97DF;
  EXPECT_EQ(Timecode::fromFrame(1800, df), tc(0, 1, 0, 2));
  EXPECT_EQ(Timecode::fromFrame(17982, df), tc(0, 10, 0, 0));
  EXPECT_EQ(Timecode::fromFrame(2589407, df), tc(23, 59, 59, 29));
  // A label that does not exist counts as the one two frames earlier.
  EXPECT_EQ(tc(0, 1, 0, 0).frameNumber(df), tc(0, 0, 59, 28).frameNumber(df));
  EXPECT_FALSE(tc(0, 1, 0, 0).isValid(df));
  EXPECT_TRUE(tc(0, 1, 0, 0).isValid(FrameRate::fps29_97ND));
  EXPECT_FALSE(tc(0, 0, 0, 24).isValid(FrameRate::fps24));
  for (FrameRate rate : kAllFrameRates) {
    for (const Timecode& bad : {tc(24, 0, 0, 0), tc(-1, 0, 0, 0), tc(0, -1, 0, 0), tc(0, 0, -1, 0),
                                tc(0, 0, 0, -1), tc(0, 60, 0, 0)}) {
      EXPECT_FALSE(bad.isValid(rate)) << rawValue(rate) << " " << bad.description();
    }
  }
}

TEST(Timecode, PrintsPaddedLabelsParsesSeparatedOrDigitOnlyTextAndSaturatesHugeFields) {
  EXPECT_EQ(tc(0, 0, 0, 0).text(true), "00:00:00;00");
  EXPECT_EQ(tc(1, 2, 3, 4).description(), "01:02:03:04");
  for (const char* text :
       {"01:02:03:04", "1.2.3.4", "01;02;03;04", ":01:02:03:04", "1,2,3,4", "01::02:03:04:"}) {
    EXPECT_EQ(Timecode::parse(text), tc(1, 2, 3, 4)) << text;
  }
  EXPECT_EQ(Timecode::parse("1234"), tc(0, 0, 12, 34));
  EXPECT_EQ(Timecode::parse("12345678"), tc(12, 34, 56, 78));
  EXPECT_EQ(Timecode::parse("-1:00:00:00"), tc(-1, 0, 0, 0));
  for (const char* text : {"01:02:03", "123456789", " 01:02:03:04", "", ":::", "1:2:3:4:5", "a:b:c:d",
                           "1:2:3:4x", "1:2:3:--4", "99999999999999999999:0:0:0"}) {
    EXPECT_EQ(Timecode::parse(text), std::nullopt) << text;
  }

  // Huge parsed fields saturate instead of wrapping.
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const Timecode big = Timecode::parse("9223372036854775807:0:0:0").value();
  for (FrameRate r : kAllFrameRates)
    EXPECT_TRUE(big.frameNumber(r) == kMax && !big.isValid(r)) << rawValue(r);
  EXPECT_EQ(Timecode::parse("-9223372036854775808:0:0:0").value().frameNumber(FrameRate::fps29_97DF),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(tc(0, 0, 0, kMax).frameNumber(FrameRate::fps25), kMax);
}

}  // namespace
}  // namespace quillmark
