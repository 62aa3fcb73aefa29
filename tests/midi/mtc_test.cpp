#include "midi/mtc.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& message) {
  return Bytes(message.begin(), message.end());
}

TEST(MTC, QuarterFramesOfAGroupCarryTheFrameAtWhichItsPieceZeroIsDue) {
  // 00:00:00:02 at 25 fps: pieces 0..7 with nibbles 2,0,0,0,0,0,0 and code 1 << 1.
  const Bytes expected[] = {{0xF1, 0x02}, {0xF1, 0x10}, {0xF1, 0x20}, {0xF1, 0x30},
                            {0xF1, 0x40}, {0xF1, 0x50}, {0xF1, 0x60}, {0xF1, 0x72}};
  for (int i = 8; i < 16; ++i) EXPECT_EQ(bytes(MTC::quarterFrame(i, FrameRate::fps25)), expected[i - 8]);
  // Frame 2591998 at 30 fps is 23:59:59:28; piece 7 also carries the top bit of hours 23.
  const std::uint8_t late[] = {0x0C, 0x11, 0x2B, 0x33, 0x4B, 0x53, 0x67, 0x77};
  for (int piece = 0; piece < 8; ++piece) {
    EXPECT_EQ(MTC::quarterFrame(4 * 2591998 + piece, FrameRate::fps30)[1], late[piece]) << piece;
  }
  // Negative indexes fold: index -1 is piece 7 of frame -2, the second-to-last frame of the day.
  EXPECT_EQ(bytes(MTC::quarterFrame(-1, FrameRate::fps25)), (Bytes{0xF1, 0x73}));
  EXPECT_EQ(bytes(MTC::quarterFrame(-8, FrameRate::fps25)), (Bytes{0xF1, 0x07}));  // 23:59:59:23
}

TEST(MTC, FullFrameCarriesTheRateCodeInTheHoursByteAndNeverAStatusByteInItsBody) {
  EXPECT_EQ(bytes(MTC::fullFrame({23, 59, 59, 29}, FrameRate::fps29_97ND)),
            (Bytes{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x77, 0x3B, 0x3B, 0x1D, 0xF7}));
  const std::uint8_t hoursByte[] = {0x01, 0x01, 0x21, 0x41, 0x61, 0x61};
  for (std::size_t i = 0; i < kAllFrameRates.size(); ++i) {
    EXPECT_EQ(MTC::fullFrame({1, 0, 0, 0}, kAllFrameRates[i])[5], hoursByte[i]) << i;
  }
  const auto wild = MTC::fullFrame({-1, 200, -5, 1000}, FrameRate::fps30);
  for (std::size_t i = 1; i + 1 < wild.size(); ++i) EXPECT_LT(wild[i], 0x80) << i;
}

TEST(MTC, RateCodesDecodeToTheNonPulldownRateOfEachPair) {
  EXPECT_EQ(MTC::rateFromCode(MTC::rateCode(FrameRate::fps23_976)), FrameRate::fps24);
  EXPECT_EQ(MTC::rateFromCode(MTC::rateCode(FrameRate::fps29_97ND)), FrameRate::fps30);
  for (FrameRate rate : {FrameRate::fps24, FrameRate::fps25, FrameRate::fps29_97DF, FrameRate::fps30}) {
    EXPECT_EQ(MTC::rateFromCode(MTC::rateCode(rate)), rate);
  }
}

}  // namespace
}  // namespace quillmark
