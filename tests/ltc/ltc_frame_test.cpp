#include "ltc/ltc_frame.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>

namespace quillmark {
namespace {

LTCFrame frameOf(Timecode t, std::uint32_t userBits = 0, bool dropFrame = false) {
  return LTCFrame{t, userBits, dropFrame, false, 0, true};
}

TEST(LTCFrame, PacksKnownWordsBitForBit) {
  EXPECT_EQ(frameOf({0, 0, 0, 0}).dataBits(false), 0x0000000008000000u);
  EXPECT_EQ(frameOf({0, 0, 0, 0}).dataBits(true), 0x0800000000000000u);
  EXPECT_EQ(frameOf({10, 0, 0, 0}).dataBits(false), 0x0100000000000000u);
  EXPECT_EQ(frameOf({1, 23, 45, 17}).dataBits(false), 0x0001020304050107u);
  EXPECT_EQ(frameOf({12, 34, 56, 21}, 0x12345678, true).dataBits(false), 0x1122334455667681u);
}

TEST(LTCFrame, EveryPackedWordHasAnOddNumberOfOnesAndUnpacksToItself) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    const bool is25 = i % 2 == 0;
    const LTCFrame frame{{static_cast<std::int64_t>(random() % 24), static_cast<std::int64_t>(random() % 60),
                          static_cast<std::int64_t>(random() % 60), static_cast<std::int64_t>(random() % 30)},
                         static_cast<std::uint32_t>(random()),
                         (random() & 1) != 0,
                         (random() & 1) != 0,
                         static_cast<std::uint8_t>(random() % 8),
                         true};
    const std::uint64_t word = frame.dataBits(is25);
    // With the sync word's 13 ones every frame holds an even number of transitions.
    ASSERT_EQ(std::popcount(word) % 2, 1) << std::hex << word;
    ASSERT_EQ(LTCFrame::fromData(word, is25), frame) << std::hex << word;
  }
}

TEST(LTCFrame, FlagsDigitsOutOfRange) {
  const auto validity = [](int at, std::uint64_t value) {
    std::uint64_t word = 0;
    LTCFrame::put(word, value, at, 4);
    return LTCFrame::fromData(word, false).hasValidDigits;
  };
  EXPECT_FALSE(validity(24, 6));  // seconds tens 6
  EXPECT_FALSE(validity(24, 7));
  EXPECT_FALSE(validity(40, 6));  // minutes tens 6
  EXPECT_FALSE(validity(8, 3));   // frame tens 3
  for (int units : {0, 16, 32, 48}) {
    EXPECT_FALSE(validity(units, 10)) << units;
    EXPECT_FALSE(validity(units, 15)) << units;
  }
  const LTCFrame hour24 = LTCFrame::fromData(frameOf({24, 0, 0, 0}).dataBits(false), false);
  EXPECT_EQ(hour24.timecode.hours, 24);  // fields are filled even when a digit is out of range
  EXPECT_FALSE(hour24.hasValidDigits);
  EXPECT_TRUE(LTCFrame::fromData(frameOf({23, 59, 59, 29}).dataBits(false), false).hasValidDigits);
}

TEST(LTCFrame, TheTwoFlagLayoutsAreNotInterchangeable) {
  LTCFrame frame = frameOf({1, 0, 0, 0});
  frame.binaryGroupFlags = 1;
  const std::uint64_t word = frame.dataBits(true);
  EXPECT_NE(word & (std::uint64_t{1} << 27), 0u);
  // Read in the other layout, flag 0 comes from bit 43 and bit 27 is only the polarity bit there.
  const LTCFrame misread = LTCFrame::fromData(word, false);
  EXPECT_EQ(misread.binaryGroupFlags & 1u, 0u);
  EXPECT_EQ(misread.timecode, frame.timecode);
}

}  // namespace
}  // namespace quillmark
