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

std::uint64_t wordOf(Timecode t) {
  return LTCFrame{t, 0, false, false, 0, true}.dataBits(false);
}

TEST(LTCDecoder, ReportsEachFrameAsItsSyncWordCompletesWithExactPositions) {
  // 30 fps at 48 kHz: 20-sample cells, 1600-sample frames starting on whole samples.
  const std::vector<float> code = renderCode(FrameRate::fps30, 48000, 0, 1.0);
  LTCDecoder decoder(48000);
  std::vector<std::pair<LTCDecoder::Frame, std::int64_t>> reports;  // frame, sample at which it came
  for (std::size_t i = 0; i < code.size(); ++i) {
    decoder.process(&code[i], 1, static_cast<std::int64_t>(i), [&](const LTCDecoder::Frame& f) {
      reports.emplace_back(f, static_cast<std::int64_t>(i));
    });
  }
  ASSERT_GE(reports.size(), 28u);
  // Frame 0's first edge only sets the polarity, so its bit 0 is lost; frame 1 is the first report, as
  // soon as its own sync word completes.
  EXPECT_EQ(reports.front().first.frame.timecode, (Timecode{0, 0, 0, 1}));
  EXPECT_LE(reports.front().second, 2 * 1600 + 3);
  for (const auto& [frame, at] : reports) {
    const double n = std::round(frame.start / 1600);
    EXPECT_EQ(frame.frame.timecode, Timecode::fromFrame(static_cast<std::int64_t>(n), FrameRate::fps30));
    EXPECT_NEAR(frame.start, n * 1600, 0.05);
    EXPECT_NEAR(frame.length, 1600, 0.05);
    EXPECT_FALSE(frame.reverse);
    // Reported within a couple of samples of the transition that closes its last sync bit.
    EXPECT_GE(static_cast<double>(at), frame.start + frame.length);
    EXPECT_LE(static_cast<double>(at), frame.start + frame.length + 3);
  }
  EXPECT_EQ(decoder.errors(), 0);
  EXPECT_NEAR(decoder.level(), 0.5f, 0.02f);
}

TEST(LTCDecoder, ToleratesCellTimingWithinTheClassifierBoundsOnly) {
  // 25 fps at 48 kHz: cells of 24 samples. Frame 1's bit 1 is a zero (full cell): stretch or squeeze it.
  // The square wave's lead-in bit gives frame 0 its first edge, so frame 0 decodes too.
  const std::vector<std::uint64_t> words = {wordOf({1, 0, 0, 0}), wordOf({1, 0, 0, 1}), wordOf({1, 0, 0, 2}),
                                            wordOf({1, 0, 0, 3})};
  const auto decodeWithCell = [&](double cellLength, std::int64_t* errors) {
    std::vector<double> edges = biphaseEdges(words, 24);
    const double from = 24 + 80 * 24 + 24;  // the edge that ends frame 1's bit 0
    const std::size_t index = std::lower_bound(edges.begin(), edges.end(), from) - edges.begin();
    for (std::size_t e = index + 1; e < edges.size(); ++e) edges[e] += cellLength - 24;
    LTCDecoder decoder(48000);
    const auto frames = decodeAll(decoder, squareWave(edges));
    *errors = decoder.errors();
    std::vector<std::int64_t> labels;
    for (const auto& f : frames) labels.push_back(f.frame.timecode.frames);
    return labels;
  };
  std::int64_t errors = 0;
  EXPECT_EQ(decodeWithCell(24, &errors), (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(decodeWithCell(33, &errors), (std::vector<std::int64_t>{0, 1, 2, 3}));  // still a full cell
  EXPECT_EQ(decodeWithCell(19.5, &errors), (std::vector<std::int64_t>{0, 1, 2, 3}));
  // Beyond 1.5 cells the frame is lost and counted; what follows still decodes and nothing false is reported.
  EXPECT_EQ(decodeWithCell(38, &errors), (std::vector<std::int64_t>{0, 2, 3}));
  EXPECT_EQ(errors, 1);
}

TEST(LTCDecoder, DropsWordsWithImpossibleDigitsWithoutCountingAnError) {
  std::uint64_t impossible = wordOf({1, 0, 0, 1});
  LTCFrame::put(impossible, 6, 24, 3);  // seconds tens 6
  LTCDecoder decoder(48000);
  const auto frames = decodeAll(
      decoder, squareWave(biphaseEdges({wordOf({1, 0, 0, 0}), impossible, wordOf({1, 0, 0, 2})}, 24)));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].frame.timecode, (Timecode{1, 0, 0, 0}));
  EXPECT_EQ(frames[1].frame.timecode, (Timecode{1, 0, 0, 2}));
  EXPECT_EQ(decoder.errors(), 0);
}

TEST(LTCDecoder, AGlitchLosesOnlyTheFramesItTouches) {
  std::vector<float> code = renderCode(FrameRate::fps25, 48000, 0, 2.0);
  // A three-sample spike against the signal in the middle of frame 20 makes two extra edges.
  const std::size_t at = 20 * 1920 + 40 * 24 + 4;
  for (std::size_t i = at; i < at + 3; ++i) code[i] = -code[i];
  LTCDecoder decoder(48000);
  const auto frames = decodeAll(decoder, code);
  EXPECT_GE(decoder.errors(), 1);
  std::vector<std::int64_t> numbers;
  for (const auto& f : frames) {
    const std::int64_t n = f.frame.timecode.frameNumber(FrameRate::fps25);
    EXPECT_NEAR(f.start, static_cast<double>(n) * 1920, 0.1) << "a damaged word came out as " << n;
    numbers.push_back(n);
  }
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 20), 0);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 22), 1);  // the next frame after 80 more bits
  EXPECT_EQ(numbers.back(), 48);  // the last frame's closing edge is past the end of the signal
}

TEST(LTCDecoder, SilenceYieldsNothingAndADropoutCountsNoError) {
  std::vector<float> faint = renderCode(FrameRate::fps25, 48000, 0, 1.0);
  for (float& s : faint) s *= 0.002f;  // edges stay under the 0.003 gate
  LTCDecoder quiet(48000);
  EXPECT_TRUE(decodeAll(quiet, faint).empty());
  EXPECT_EQ(quiet.errors(), 0);

  std::vector<float> code = renderCode(FrameRate::fps25, 48000, 0, 3.0);
  std::fill(code.begin() + 30 * 1920 + 500, code.begin() + 30 * 1920 + 500 + 24000, 0.0f);  // 0.5 s gap
  LTCDecoder decoder(48000);
  const std::vector<float> before(code.begin(), code.begin() + 30 * 1920 + 500 + 24000);
  decodeAll(decoder, before);
  EXPECT_EQ(decoder.errors(), 0);
  const std::vector<float> after(code.begin() + static_cast<std::ptrdiff_t>(before.size()), code.end());
  const auto resumed = decodeAll(decoder, after, 1024, static_cast<std::int64_t>(before.size()));
  ASSERT_GE(resumed.size(), 29u);  // code resumes inside frame 42; 43 .. 73 remain
  EXPECT_EQ(resumed.back().frame.timecode, Timecode::fromFrame(73, FrameRate::fps25));
}

TEST(LTCDecoder, DecodesAgainAfterNonFiniteSamples) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float bad : {nan, inf, -inf}) {
    SCOPED_TRACE(bad);
    std::vector<float> code = renderCode(FrameRate::fps25, 48000, 0, 3.0);
    std::fill(code.begin() + 20 * 1920 + 700, code.begin() + 20 * 1920 + 800, bad);
    LTCDecoder decoder(48000);
    const auto frames = decodeAll(decoder, code);
    EXPECT_TRUE(std::isfinite(decoder.level()));
    EXPECT_GE(decoder.errors(), 1);  // the interrupted frame
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().frame.timecode, Timecode::fromFrame(73, FrameRate::fps25));
    EXPECT_GE(frames.size(), 70u);
  }
}

TEST(LTCDecoder, FollowsAVarispeedRamp) {
  // Speed glides from 0.8 to 1.3 over four seconds of 24 fps code, rendered buffer by buffer.
  LTCEncoder encoder(48000);
  encoder.setRate(FrameRate::fps24);
  std::vector<float> code(4 * 48000);
  double position = 1000;
  for (std::size_t at = 0; at < code.size(); at += 256) {
    const double speed = 0.8 + 0.5 * static_cast<double>(at) / static_cast<double>(code.size());
    const double step = 24.0 * speed / 48000;
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

TEST(LTCDecoder, ProcessingDoesNotAllocate) {
  if (!allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  const std::vector<float> code = renderCode(FrameRate::fps29_97DF, 48000, 0, 2.0);
  std::vector<float> reversed(code.rbegin(), code.rend());
  LTCDecoder forward(48000), backward(48000);
  int found = 0;
  resetRealtimeAllocations();
  {
    RealtimeScope realtime;
    for (std::size_t at = 0; at + 512 <= code.size(); at += 512) {
      const auto position = static_cast<std::int64_t>(at);
      forward.process(&code[at], 512, position, [&](const LTCDecoder::Frame&) { ++found; });
      backward.process(&reversed[at], 512, position, [&](const LTCDecoder::Frame&) { ++found; });
    }
  }
  EXPECT_EQ(realtimeAllocations(), 0u);
  EXPECT_GT(found, 100);
}

}  // namespace
}  // namespace quillmark::test
