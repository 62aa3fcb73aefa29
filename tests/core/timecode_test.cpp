#include "core/timecode.h"

#include <gtest/gtest.h>

#include <limits>

namespace quillmark {
namespace {

Timecode tc(std::int64_t h, std::int64_t m, std::int64_t s, std::int64_t f) {
  return Timecode{h, m, s, f};
}

TEST(FrameRate, RawValuesRoundTripAndNothingElseParses) {
  for (FrameRate rate : kAllFrameRates) EXPECT_EQ(frameRateFromRaw(rawValue(rate)), rate);
  for (const char* text : {"29.97", "29.97df", "29.97 df", " 25", "25 ", "", "23.98", "30 DF"}) {
    EXPECT_EQ(frameRateFromRaw(text), std::nullopt) << text;
  }
}

TEST(FrameRate, DerivedNumbersMatchTheTable) {
  EXPECT_EQ(framesPerDay(FrameRate::fps29_97DF), 2589408);
  EXPECT_EQ(framesPerDay(FrameRate::fps29_97ND), 2592000);
  EXPECT_EQ(framesPerDay(FrameRate::fps30), 2592000);
  EXPECT_EQ(framesPerDay(FrameRate::fps23_976), 2073600);
  EXPECT_EQ(framesPerDay(FrameRate::fps24), 2073600);
  EXPECT_EQ(framesPerDay(FrameRate::fps25), 2160000);
  EXPECT_EQ(realFramesPerSecond(FrameRate::fps23_976), 24000.0 / 1001.0);
  EXPECT_EQ(realFramesPerSecond(FrameRate::fps29_97ND), 30000.0 / 1001.0);
  EXPECT_EQ(realFramesPerSecond(FrameRate::fps25), 25.0);
  EXPECT_TRUE(isPulldown(FrameRate::fps29_97DF));
  EXPECT_FALSE(isPulldown(FrameRate::fps30));
}

TEST(Timecode, EveryCountOfTheDayRoundTripsThroughItsLabelAtEveryRate) {
  for (FrameRate rate : kAllFrameRates) {
    for (std::int64_t frame = 0; frame < framesPerDay(rate); ++frame) {
      const Timecode label = Timecode::fromFrame(frame, rate);
      ASSERT_TRUE(label.isValid(rate)) << rawValue(rate) << " " << frame;
      ASSERT_EQ(label.frameNumber(rate), frame) << rawValue(rate) << " " << label.description();
    }
  }
}

TEST(Timecode, FoldsCountsOutsideTheDay) {
  EXPECT_EQ(Timecode::fromFrame(-1, FrameRate::fps25), tc(23, 59, 59, 24));
  EXPECT_EQ(Timecode::fromFrame(2160000, FrameRate::fps25), tc(0, 0, 0, 0));
  EXPECT_EQ(Timecode::fromFrame(std::numeric_limits<std::int64_t>::min(), FrameRate::fps29_97DF)
                .isValid(FrameRate::fps29_97DF),
            true);
}

TEST(Timecode, DropFrameSkipsTwoLabelsInMinutesNotDivisibleByTen) {
  const auto df = FrameRate::fps29_97DF;
  EXPECT_EQ(Timecode::fromFrame(1799, df), tc(0, 0, 59, 29));
  EXPECT_EQ(Timecode::fromFrame(1800, df), tc(0, 1, 0, 2));
  EXPECT_EQ(Timecode::fromFrame(17981, df), tc(0, 9, 59, 29));
  EXPECT_EQ(Timecode::fromFrame(17982, df), tc(0, 10, 0, 0));
  EXPECT_EQ(Timecode::fromFrame(2589407, df), tc(23, 59, 59, 29));
  EXPECT_EQ(tc(0, 1, 0, 2).frameNumber(df), 1800);
  EXPECT_EQ(tc(0, 10, 0, 0).frameNumber(df), 17982);
  // A label that does not exist counts as the one two frames earlier.
  EXPECT_EQ(tc(0, 1, 0, 0).frameNumber(df), tc(0, 0, 59, 28).frameNumber(df));
  EXPECT_FALSE(tc(0, 1, 0, 0).isValid(df));
  EXPECT_FALSE(tc(0, 1, 0, 1).isValid(df));
  EXPECT_TRUE(tc(0, 10, 0, 0).isValid(df));
  EXPECT_TRUE(tc(0, 0, 0, 0).isValid(df));
  EXPECT_TRUE(tc(0, 1, 1, 0).isValid(df));
  EXPECT_TRUE(tc(0, 1, 0, 0).isValid(FrameRate::fps29_97ND));
  EXPECT_EQ(tc(0, 1, 0, 0).frameNumber(FrameRate::fps29_97ND), 1800);
}

TEST(Timecode, ValidityFollowsEachRatesLabels) {
  EXPECT_FALSE(tc(0, 0, 0, 24).isValid(FrameRate::fps23_976));
  EXPECT_FALSE(tc(0, 0, 0, 24).isValid(FrameRate::fps24));
  EXPECT_TRUE(tc(0, 0, 0, 24).isValid(FrameRate::fps25));
  for (FrameRate rate : {FrameRate::fps29_97DF, FrameRate::fps29_97ND, FrameRate::fps30}) {
    EXPECT_TRUE(tc(0, 0, 1, 29).isValid(rate));
  }
  for (FrameRate rate : kAllFrameRates) {
    EXPECT_FALSE(tc(24, 0, 0, 0).isValid(rate));
    EXPECT_FALSE(tc(-1, 0, 0, 0).isValid(rate));
    EXPECT_FALSE(tc(0, -1, 0, 0).isValid(rate));
    EXPECT_FALSE(tc(0, 0, -1, 0).isValid(rate));
    EXPECT_FALSE(tc(0, 0, 0, -1).isValid(rate));
    EXPECT_FALSE(tc(0, 60, 0, 0).isValid(rate));
  }
}

TEST(Timecode, TextFormsPadToTwoDigitsAndMarkDropFrame) {
  EXPECT_EQ(tc(0, 0, 0, 0).text(true), "00:00:00;00");
  EXPECT_EQ(tc(0, 0, 0, 0).description(), "00:00:00:00");
  EXPECT_EQ(tc(1, 2, 3, 4).text(false), "01:02:03:04");
  EXPECT_EQ(tc(1, 2, 3, 4).text(true), "01:02:03;04");
  EXPECT_EQ(tc(123, -1, 3, 4).description(), "123:-1:03:04");
}

TEST(Timecode, ParsesSeparatedAndDigitOnlyText) {
  for (const char* text :
       {"01:02:03:04", "1.2.3.4", "01;02;03;04", ":01:02:03:04", "1,2,3,4", "01::02:03:04:"}) {
    EXPECT_EQ(Timecode::parse(text), tc(1, 2, 3, 4)) << text;
  }
  EXPECT_EQ(Timecode::parse("1234"), tc(0, 0, 12, 34));
  EXPECT_EQ(Timecode::parse("10000"), tc(0, 1, 0, 0));
  EXPECT_EQ(Timecode::parse("1h 2m"), tc(0, 0, 0, 12));
  EXPECT_EQ(Timecode::parse("5"), tc(0, 0, 0, 5));
  EXPECT_EQ(Timecode::parse("12345678"), tc(12, 34, 56, 78));
  EXPECT_EQ(Timecode::parse("-1:00:00:00"), tc(-1, 0, 0, 0));
  EXPECT_EQ(Timecode::parse("+1:00:00:00"), tc(1, 0, 0, 0));
}

TEST(Timecode, RejectsTextThatIsNotALabel) {
  for (const char* text : {"01:02:03", "123456789", " 01:02:03:04", "", ":::", "1:2:3:4:5", "a:b:c:d", "abc",
                           "1:2:3:4x", "1:2:3:--4", "99999999999999999999:0:0:0"}) {
    EXPECT_EQ(Timecode::parse(text), std::nullopt) << text;
  }
}

TEST(Timecode, HugeParsedFieldsSaturateInsteadOfWrapping) {
  const auto big = Timecode::parse("9223372036854775807:0:0:0");
  ASSERT_TRUE(big.has_value());
  for (FrameRate rate : kAllFrameRates) {
    EXPECT_EQ(big->frameNumber(rate), std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(big->isValid(rate));
  }
  const auto small = Timecode::parse("-9223372036854775808:0:0:0");
  ASSERT_TRUE(small.has_value());
  EXPECT_EQ(small->frameNumber(FrameRate::fps29_97DF), std::numeric_limits<std::int64_t>::min());
  const Timecode mixed = tc(0, 0, 0, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(mixed.frameNumber(FrameRate::fps25), std::numeric_limits<std::int64_t>::max());
}

}  // namespace
}  // namespace quillmark
