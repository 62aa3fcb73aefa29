// The LTC encoder and decoder, each on its own and as a pair: encoder to decoder at every rate and sample
// rate, in both directions, at off-speeds and through noise and hum.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "core/timecode.h"
#include "tests/ltc/ltc_signal.h"
#include "tests/support/alloc_counter.h"

namespace quillmark::test {
namespace {

// The signal at `x` bit cells into absolute frame `frame`.
float levelAt(LTCEncoder& encoder, std::int64_t frame, double x) {
  float sample = 0;
  encoder.render(&sample, 1, static_cast<double>(frame) + x / 80.0, 0);
  return sample;
}

TEST(LTCEncoder, EveryFrameRisesThroughZeroAtItsStartAndEndsLowAndARateChangeRebuildsTheCachedFrame) {
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
  // Bit 27 is a one mid-cell in 00:00:00:00 only where it is the polarity bit: at 30 fps, not at 25.
  const auto bit27 = [&] { return levelAt(encoder, 0, 27.25) != levelAt(encoder, 0, 27.75); };
  EXPECT_FALSE(bit27());
  encoder.setRate(FrameRate::fps30);
  EXPECT_TRUE(bit27());
}

TEST(LTCEncoder, RenderingInPiecesMatchesOneRunAStillPositionHoldsItsLevelAndNoNumberIsSilence) {
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
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1e300}) {
    whole.render(still.data(), 64, bad, 0.001);
    for (float v : still) ASSERT_EQ(v, 0.0f) << bad;
  }
}

TEST(LTCEncoder, EdgesLastTheRiseTimeAtEveryPlaySpeed) {
  // 25 us rise time: each edge lasts 41.7 us, 8 samples at 192 kHz, whether the code plays at a quarter
  // of its speed or at four times it. Every run of samples between the two levels is one edge.
  constexpr double kSampleRate = 192000;
  for (const double speed : {0.25, 0.5, 1.0, 2.0, 4.0}) {
    LTCEncoder encoder(kSampleRate);
    std::vector<float> out(static_cast<std::size_t>(kSampleRate / 5));
    encoder.render(out.data(), static_cast<std::int64_t>(out.size()), 90000.3, 25.0 * speed / kSampleRate);
    int edges = 0;
    for (std::size_t i = 0, inEdge = 0; i < out.size(); ++i) {
      if (std::fabs(out[i]) < 0.5f) {
        ++inEdge;
        continue;
      }
      if (inEdge > 0 && inEdge < i) {  // an edge cut by the start of the run does not count
        ASSERT_TRUE(inEdge >= 7 && inEdge <= 9) << "speed " << speed << ": " << inEdge << " samples at " << i;
        ++edges;
      }
      inEdge = 0;
    }
    EXPECT_GT(edges, 80 * speed) << "speed " << speed;
  }
}

std::uint64_t wordOf(std::int64_t frames) {
  return LTCFrame{{1, 0, 0, frames}}.dataBits(false);
}

// Exact positions and labels are the record test's (ltc_decoder_record_test.cpp); fed a sample at a time,
// each frame is reported within a couple of samples of the transition that closes its last sync bit.
TEST(LTCDecoder, ReportsEachFrameAsItsSyncWordCompletes) {
  const std::vector<float> code = renderCode(FrameRate::fps30, 48000, 0, 1.0);
  LTCDecoder decoder(48000);
  std::vector<Timecode> labels;
  for (std::size_t i = 0; i < code.size(); ++i) {
    decoder.process(&code[i], 1, static_cast<std::int64_t>(i), [&](const LTCDecoder::Frame& f) {
      EXPECT_GE(static_cast<double>(i), f.start + f.length);
      EXPECT_LE(static_cast<double>(i), f.start + f.length + 3);
      labels.push_back(f.frame.timecode);
    });
  }
  // Frame 0's first edge only sets the polarity, so its bit 0 is lost; frame 1 is the first report.
  ASSERT_GE(labels.size(), 28u);
  EXPECT_EQ(labels.front(), (Timecode{0, 0, 0, 1}));
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

// The clean pair at every rate and sample rate, both ways: noise, inverted polarity, DC, dropouts, a spike,
// runs of NaN or infinite samples and code too faint to read are held frame by frame by the decoder record
// test (ltc_decoder_record_test.cpp).
TEST(LTCDecoder, ReadsEverySteadySpeedFromAQuarterToTwoAndAHalfTimesPlaySpeedAndFiveAt96kHz) {
  // Sixteen frames of code at each speed in steps of 0.05, both ways, across 00:01:00 (where 29.97 DF
  // skips two labels): at most four go to finding the speed and settling, and every report is the next
  // frame with the user bits and drop-frame flag it was sent with.
  constexpr std::uint32_t kUserBits = 0x5EED1234u;
  for (const double sampleRate : {44100.0, 48000.0, 96000.0}) {
    for (const FrameRate rate : kAllFrameRates) {
      const double fastest = sampleRate == 96000.0 ? 5.0 : 2.5;
      for (double speed = 0.25; speed <= fastest + 1e-9; speed += 0.05) {
        std::vector<float> code = renderCode(rate, sampleRate, Timecode{0, 0, 59, 22}.frameNumber(rate) + 0.3,
                                             16.0 / (realFramesPerSecond(rate) * speed), speed, kUserBits);
        for (const bool reversed : {false, true}) {
          if (reversed) std::reverse(code.begin(), code.end());
          const auto frames = decodeAll(sampleRate, code);
          const auto step = reversed ? -1 : 1;
          bool consecutive = true;
          for (std::size_t i = 0; i < frames.size(); ++i) {
            const LTCFrame& got = frames[i].frame;
            consecutive = consecutive && got.userBits == kUserBits && frames[i].reverse == reversed &&
                          got.dropFrame == (rate == FrameRate::fps29_97DF) &&
                          (i == 0 || got.timecode.frameNumber(rate) ==
                                         frames[i - 1].frame.timecode.frameNumber(rate) + step);
          }
          ASSERT_TRUE(frames.size() >= 12 && consecutive)
              << rawValue(rate) << " at " << sampleRate << " Hz, speed " << speed
              << (reversed ? " reversed: " : ": ") << frames.size() << " frames";
        }
      }
    }
  }
}

TEST(LTCDecoder, FollowsAShuttleRampBetweenTwoAndAHalfTimesAndAQuarterOfPlaySpeed) {
  // Four seconds from 2.5x down to 0.25x and up again by a constant ratio, 10 % per frame at the slow end,
  // read forwards and time-reversed. At most one frame may go missing where the decoder moves between
  // speed bands, and every label must be the one that was sent.
  for (const double sampleRate : {44100.0, 48000.0, 96000.0}) {
    for (const FrameRate rate : {FrameRate::fps23_976, FrameRate::fps29_97DF}) {
      for (const bool down : {true, false}) {
        SCOPED_TRACE(std::string(rawValue(rate)) + " at " + std::to_string(sampleRate) +
                     (down ? " down" : " up"));
        const std::vector<float> code = renderGlide(rate, sampleRate, 3000, 4.0, down ? 2.5 : 0.25,
                                                    down ? 0.25 : 2.5, 0, Glide::exponential);
        for (const bool reversed : {false, true}) {
          const auto frames = reversed ? decodeAll(sampleRate, std::vector<float>(code.rbegin(), code.rend()))
                                       : decodeAll(sampleRate, code);
          // The code spans 4 s x (2.5 - 0.25) / ln 10 x fps frames from 3000.
          const double sent = 4.0 * 2.25 / std::log(10.0) * realFramesPerSecond(rate);
          ASSERT_GE(static_cast<double>(frames.size()), sent - 5) << (reversed ? "reversed" : "forward");
          for (std::size_t i = 1; i < frames.size(); ++i) {
            const auto step =
                frames[i].frame.timecode.frameNumber(rate) - frames[i - 1].frame.timecode.frameNumber(rate);
            ASSERT_TRUE(reversed ? step == -1 || step == -2 : step == 1 || step == 2)
                << "report " << i << " steps by " << step << (reversed ? " reversed" : " forward");
            ASSERT_EQ(frames[i].reverse, reversed);
          }
        }
      }
    }
  }
}

TEST(LTCDecoder, NoiseAndHumAloneYieldNoFrameWhateverBandTheDecoderIsIn) {
  for (const double sampleRate : {44100.0, 48000.0, 96000.0}) {
    std::mt19937 random(77);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (const float noiseLevel : {0.002f, 0.05f, 0.3f}) {
      for (const double humHz : {0.0, 50.0, 60.0}) {
        // Mains hum with the odd harmonics a ground loop adds, under white noise, for three seconds.
        std::vector<float> signal(static_cast<std::size_t>(3 * sampleRate));
        for (std::size_t i = 0; i < signal.size(); ++i) {
          const double t = static_cast<double>(i) / sampleRate;
          double hum = 0;
          for (int h = 1; h <= 7 && humHz > 0; h += 2)
            hum += 0.3 / h * std::sin(2 * std::numbers::pi * humHz * h * t);
          signal[i] = static_cast<float>(hum) + noiseLevel * noise(random);
        }
        // From a fresh decoder, and straight after code that took it to the slowest or a fast band.
        for (const double speed : {0.0, 0.25, 2.5}) {
          LTCDecoder decoder(sampleRate);
          std::int64_t codeLength = 0;
          if (speed > 0) {
            const std::vector<float> code = renderCode(FrameRate::fps25, sampleRate, 0, 1.0, speed);
            decodeAll(decoder, code);
            codeLength = static_cast<std::int64_t>(code.size());
            EXPECT_NE(decoder.band(), 1.0);
          }
          const auto frames = decodeAll(decoder, signal, 1024, codeLength);
          EXPECT_TRUE(std::none_of(frames.begin(), frames.end(),
                                   [&](const auto& f) { return f.start >= static_cast<double>(codeLength); }))
              << sampleRate << " noise " << noiseLevel << " hum " << humHz << " after speed " << speed;
        }
      }
    }
  }
}

TEST(LTCCodec, RenderingAndDecodingDoNotAllocate) {
  if (!allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  // Shuttle code, so that the decoders move between speed bands while counted too.
  const std::vector<float> code = renderGlide(FrameRate::fps29_97DF, 48000, 0, 4.0, 2.5, 0.3);
  const std::vector<float> reversed(code.rbegin(), code.rend());
  LTCEncoder encoder(48000);
  LTCDecoder forward(48000), backward(48000);
  std::vector<float> buffer(512);
  int found = 0;
  resetRealtimeAllocations();
  {
    RealtimeScope realtime;
    encoder.setRate(FrameRate::fps29_97DF);
    double position = 0;
    for (std::size_t at = 0; at + 512 <= code.size(); at += 512) {
      const double step = 30000.0 / 1001.0 / 48000 * (2.5 - 2.2 * static_cast<double>(at) / 192000.0);
      encoder.render(buffer.data(), 512, position, step);
      position += 512 * step;
      forward.process(buffer.data(), 512, static_cast<std::int64_t>(at),
                      [&](const LTCDecoder::Frame&) { ++found; });
      backward.process(&reversed[at], 512, static_cast<std::int64_t>(at),
                       [&](const LTCDecoder::Frame&) { ++found; });
    }
  }
  EXPECT_EQ(realtimeAllocations(), 0u);
  EXPECT_GT(found, 250);
  EXPECT_NE(forward.band(), 1.0);  // it did leave home
}

}  // namespace
}  // namespace quillmark::test
