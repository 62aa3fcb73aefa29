#include "ltc/ltc_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/timecode.h"
#include "tests/ltc/ltc_signal.h"
#include "tests/support/alloc_counter.h"

namespace quillmark::test {
namespace {

std::uint64_t wordOf(std::int64_t frames) {
  return LTCFrame{{1, 0, 0, frames}}.dataBits(false);
}

TEST(LTCDecoder, ReportsEachFrameAsItsSyncWordCompletesWithExactPositions) {
  // 30 fps at 48 kHz: 20-sample cells, 1600-sample frames starting on whole samples.
  const std::vector<float> code = renderCode(FrameRate::fps30, 48000, 0, 1.0);
  LTCDecoder decoder(48000);
  std::vector<LTCDecoder::Frame> frames;
  for (std::size_t i = 0; i < code.size(); ++i) {
    decoder.process(&code[i], 1, static_cast<std::int64_t>(i), [&](const LTCDecoder::Frame& f) {
      // Reported within a couple of samples of the transition that closes its last sync bit.
      EXPECT_GE(static_cast<double>(i), f.start + f.length);
      EXPECT_LE(static_cast<double>(i), f.start + f.length + 3);
      frames.push_back(f);
    });
  }
  // Frame 0's first edge only sets the polarity, so its bit 0 is lost; frame 1 is the first report.
  ASSERT_GE(frames.size(), 28u);
  EXPECT_EQ(frames.front().frame.timecode, (Timecode{0, 0, 0, 1}));
  for (const auto& f : frames) {
    const double n = std::round(f.start / 1600);
    EXPECT_EQ(f.frame.timecode, Timecode::fromFrame(static_cast<std::int64_t>(n), FrameRate::fps30));
    EXPECT_NEAR(f.start, n * 1600, 0.05);
    EXPECT_NEAR(f.length, 1600, 0.05);
    EXPECT_FALSE(f.reverse);
  }
  EXPECT_EQ(decoder.errors(), 0);
  EXPECT_NEAR(decoder.level(), 0.5f, 0.02f);
}

TEST(LTCDecoder, ToleratesCellTimingWithinTheClassifierBoundsOnly) {
  // 25 fps at 48 kHz, built bit by bit: cells of 24 samples. Frame 1's bit 1 is a zero (full cell): stretch
  // or squeeze it. The lead-in bit gives frame 0 its first edge, so frame 0 decodes too.
  const auto decodeWithCell = [](double cellLength, std::int64_t expectedErrors) {
    std::vector<double> edges = biphaseEdges({wordOf(0), wordOf(1), wordOf(2), wordOf(3)}, 24);
    const auto after = std::upper_bound(edges.begin(), edges.end(), 24 + 80 * 24 + 24);  // frame 1's bit 0
    for (auto e = after; e != edges.end(); ++e) *e += cellLength - 24;
    LTCDecoder decoder(48000);
    std::vector<std::int64_t> labels;
    for (const auto& f : decodeAll(decoder, squareWave(edges))) labels.push_back(f.frame.timecode.frames);
    EXPECT_EQ(decoder.errors(), expectedErrors) << cellLength;
    return labels;
  };
  const std::vector<std::int64_t> all = {0, 1, 2, 3};
  EXPECT_EQ(decodeWithCell(24, 0), all);
  EXPECT_EQ(decodeWithCell(33, 0), all);  // still a full cell
  EXPECT_EQ(decodeWithCell(19.5, 0), all);
  // Beyond 1.5 cells the frame is lost and counted; what follows still decodes and nothing false is reported.
  EXPECT_EQ(decodeWithCell(38, 1), (std::vector<std::int64_t>{0, 2, 3}));

  // A word with impossible digits (seconds tens 6) is dropped without counting an error.
  std::uint64_t impossible = wordOf(1);
  LTCFrame::put(impossible, 6, 24, 3);
  LTCDecoder decoder(48000);
  const auto frames = decodeAll(decoder, squareWave(biphaseEdges({wordOf(0), impossible, wordOf(2)}, 24)));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].frame.timecode, (Timecode{1, 0, 0, 2}));
  EXPECT_EQ(decoder.errors(), 0);
}

TEST(LTCDecoder, AGlitchLosesOnlyTheFramesItTouches) {
  std::vector<float> code = renderCode(FrameRate::fps25, 48000, 0, 2.0);
  // A three-sample spike against the signal in the middle of frame 20 makes two extra edges.
  for (std::size_t i = 20 * 1920 + 40 * 24 + 4; i < 20 * 1920 + 40 * 24 + 7; ++i) code[i] = -code[i];
  LTCDecoder decoder(48000);
  std::vector<std::int64_t> numbers;
  for (const auto& f : decodeAll(decoder, code)) {
    numbers.push_back(f.frame.timecode.frameNumber(FrameRate::fps25));
    EXPECT_NEAR(f.start, static_cast<double>(numbers.back()) * 1920, 0.1)
        << "damaged word as " << numbers.back();
  }
  EXPECT_GE(decoder.errors(), 1);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 20), 0);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 22), 1);  // the next frame after 80 more bits
  EXPECT_EQ(numbers.back(), 48);  // the last frame's closing edge is past the end of the signal
}

TEST(LTCDecoder, FaintCodeYieldsNothingAndItDecodesAgainAfterGapsAndNonFiniteSamples) {
  std::vector<float> faint = renderCode(FrameRate::fps25, 48000, 0, 1.0);
  for (float& s : faint) s *= 0.002f;  // edges stay under the 0.003 gate
  LTCDecoder quiet(48000);
  EXPECT_TRUE(decodeAll(quiet, faint).empty());
  EXPECT_EQ(quiet.errors(), 0);
  // Inside frame 20: half a second of silence (a dropout, no error), or a run of NaN or infinite samples.
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float bad : {0.0f, nan, inf, -inf}) {
    SCOPED_TRACE(bad);
    std::vector<float> code = renderCode(FrameRate::fps25, 48000, 0, 3.0);
    const std::int64_t gapEnd = 20 * 1920 + 700 + (bad == 0.0f ? 24000 : 100);
    std::fill(code.begin() + 20 * 1920 + 700, code.begin() + gapEnd, bad);
    LTCDecoder decoder(48000);
    const auto before = decodeAll(decoder, std::vector<float>(code.begin(), code.begin() + gapEnd));
    EXPECT_TRUE(bad != 0.0f || decoder.errors() == 0) << "a dropout is no error";
    const auto after =
        decodeAll(decoder, std::vector<float>(code.begin() + gapEnd, code.end()), 1024, gapEnd);
    EXPECT_TRUE(std::isfinite(decoder.level()));
    EXPECT_TRUE(bad == 0.0f || decoder.errors() >= 1);  // the frame the bad samples interrupted
    ASSERT_GE(before.size() + after.size(), bad == 0.0f ? 58u : 70u);
    EXPECT_EQ(after.back().frame.timecode, Timecode::fromFrame(73, FrameRate::fps25));
  }
}

TEST(LTCDecoder, FollowsAVarispeedRamp) {
  // Speed glides from 0.8 to 1.3 over four seconds of 24 fps code, rendered buffer by buffer.
  LTCEncoder encoder(48000);
  encoder.setRate(FrameRate::fps24);
  std::vector<float> code(4 * 48000);
  double position = 1000;
  for (std::size_t at = 0; at < code.size(); at += 256) {
    const double step =
        24.0 * (0.8 + 0.5 * static_cast<double>(at) / static_cast<double>(code.size())) / 48000;
    encoder.render(&code[at], 256, position, step);
    position += 256 * step;
  }
  const auto frames = decodeAll(48000, code);
  ASSERT_GE(frames.size(), 95u);  // about 100 frames of code
  for (std::size_t i = 1; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].frame.timecode.frameNumber(FrameRate::fps24),
              frames[i - 1].frame.timecode.frameNumber(FrameRate::fps24) + 1);
  }
}

TEST(LTCCodec, RenderingAndDecodingDoNotAllocate) {
  if (!allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  const std::vector<float> code = renderCode(FrameRate::fps29_97DF, 48000, 0, 2.0);
  const std::vector<float> reversed(code.rbegin(), code.rend());
  LTCEncoder encoder(48000);
  LTCDecoder forward(48000), backward(48000);
  std::vector<float> buffer(512);
  int found = 0;
  resetRealtimeAllocations();
  {
    RealtimeScope realtime;
    encoder.setRate(FrameRate::fps29_97DF);
    for (std::size_t at = 0; at + 512 <= code.size(); at += 512) {
      encoder.render(buffer.data(), 512, static_cast<double>(at) * 30000.0 / 1001.0 / 48000,
                     30000.0 / 1001.0 / 48000);
      forward.process(buffer.data(), 512, static_cast<std::int64_t>(at),
                      [&](const LTCDecoder::Frame&) { ++found; });
      backward.process(&reversed[at], 512, static_cast<std::int64_t>(at),
                       [&](const LTCDecoder::Frame&) { ++found; });
    }
  }
  EXPECT_EQ(realtimeAllocations(), 0u);
  EXPECT_GT(found, 100);
}

}  // namespace
}  // namespace quillmark::test
