#include "midi/mtc.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

TEST(MTC, QuarterFramesOfAGroupCarryTheFrameAtWhichItsPieceZeroIsDue) {
  // Indexes 4 * 2591998 + 0 ... 7 span frames 2591998 and 2591999, yet all carry the first, 23:59:59:28
  // at 30 fps; piece 7 carries code 3 and the top bit of hour 23.
  const std::uint8_t late[] = {0x0C, 0x11, 0x2B, 0x33, 0x4B, 0x53, 0x67, 0x77};
  for (int piece = 0; piece < 8; ++piece) {
    EXPECT_EQ(MTC::quarterFrame(4 * 2591998 + piece, FrameRate::fps30),
              (MTC::QuarterFrameMessage{0xF1, late[piece]}));
  }
  EXPECT_EQ(MTC::quarterFrame(15, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x72}));
  EXPECT_EQ(MTC::quarterFrame(8, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x02}));
  // Negative indexes fold: -8 ... -1 are the group of frame -2, 23:59:59:23 at 25 fps.
  EXPECT_EQ(MTC::quarterFrame(-8, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x07}));
  EXPECT_EQ(MTC::quarterFrame(-1, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x73}));
}

TEST(MTC, FullFrameCarriesTheRateCodeInTheHoursByteAndNeverAStatusByteInItsBody) {
  EXPECT_EQ(MTC::fullFrame({23, 59, 59, 29}, FrameRate::fps29_97ND),
            (MTC::FullFrameMessage{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x77, 0x3B, 0x3B, 0x1D, 0xF7}));
  const std::uint8_t hoursByte[] = {0x01, 0x01, 0x21, 0x41, 0x61, 0x61};
  const FrameRate decoded[] = {FrameRate::fps24,      FrameRate::fps24, FrameRate::fps25,
                               FrameRate::fps29_97DF, FrameRate::fps30, FrameRate::fps30};
  for (std::size_t i = 0; i < kAllFrameRates.size(); ++i) {
    EXPECT_EQ(MTC::fullFrame({1, 0, 0, 0}, kAllFrameRates[i])[5], hoursByte[i]) << i;
    EXPECT_EQ(MTC::rateFromCode(MTC::rateCode(kAllFrameRates[i])), decoded[i]) << i;
  }
  const auto wild = MTC::fullFrame({-1, 200, -5, 1000}, FrameRate::fps30);
  for (std::size_t i = 1; i + 1 < wild.size(); ++i) EXPECT_LT(wild[i], 0x80) << i;
}

}  // namespace
}  // namespace quillmark
