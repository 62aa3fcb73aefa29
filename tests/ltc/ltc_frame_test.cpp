#include "ltc/ltc_frame.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>

namespace quillmark {
namespace {

LTCFrame frameOf(Timecode t, std::uint32_t userBits = 0, bool dropFrame = false, std::uint8_t flags = 0) {
  return LTCFrame{t, userBits, dropFrame, false, flags, true};
}

TEST(LTCFrame, PacksKnownWordsBitForBitInBothFlagLayoutsAndFlagsDigitsOutOfRange) {
  EXPECT_EQ(frameOf({0, 0, 0, 0}).dataBits(false), 0x0000000008000000u);
  EXPECT_EQ(frameOf({0, 0, 0, 0}).dataBits(true), 0x0800000000000000u);
  EXPECT_EQ(frameOf({10, 0, 0, 0}).dataBits(false), 0x0100000000000000u);
  EXPECT_EQ(frameOf({1, 23, 45, 17}).dataBits(false), 0x0001020304050107u);
  EXPECT_EQ(frameOf({12, 34, 56, 21}, 0x12345678, true).dataBits(false), 0x1122334455667681u);
  // At 25 fps flag 0 sits at bit 27, where the other layout keeps its polarity bit.
  EXPECT_EQ(frameOf({0, 0, 0, 0}, 0, false, 1).dataBits(true), 0x0000000008000000u);
  EXPECT_EQ(LTCFrame::fromData(0x0000000008000000u, false).binaryGroupFlags, 0);
}

TEST(LTCFrame, EveryPackedWordHasAnOddNumberOfOnesAndUnpacksToItself) {
  std::mt19937_64 random(7);
  const auto below = [&](std::uint64_t n) { return static_cast<std::int64_t>(random() % n); };
  for (int i = 0; i < 2000; ++i) {
    const LTCFrame frame{{below(24), below(60), below(60), below(30)},
                         static_cast<std::uint32_t>(random()),
                         below(2) == 1,
                         below(2) == 1,
                         static_cast<std::uint8_t>(below(8)),
                         true};
    const std::uint64_t word = frame.dataBits(i % 2 == 0);
    // With the sync word's 13 ones every frame holds an even number of transitions.
    ASSERT_EQ(std::popcount(word) % 2, 1) << std::hex << word;
    ASSERT_EQ(LTCFrame::fromData(word, i % 2 == 0), frame) << std::hex << word;
  }

  // Digits out of range are flagged, but still fill the fields.
  // (bit, value): seconds tens 6 and 7, minutes tens 6, frame tens 3, and units 10 and 15 in every field.
  const std::pair<int, std::uint64_t> bad[] = {{24, 6},  {24, 7},  {40, 6}, {8, 3},   {0, 10},  {16, 10},
                                               {32, 10}, {48, 10}, {0, 15}, {16, 15}, {32, 15}, {48, 15}};
  for (const auto& [at, value] : bad) {
    std::uint64_t word = 0;
    LTCFrame::put(word, value, at, 4);
    EXPECT_FALSE(LTCFrame::fromData(word, false).hasValidDigits) << at << " " << value;
  }
  const LTCFrame hour24 = LTCFrame::fromData(frameOf({24, 0, 0, 0}).dataBits(false), false);
  EXPECT_TRUE(hour24.timecode.hours == 24 && !hour24.hasValidDigits);
  EXPECT_TRUE(LTCFrame::fromData(frameOf({23, 59, 59, 29}).dataBits(false), false).hasValidDigits);
}

}  // namespace
}  // namespace quillmark
