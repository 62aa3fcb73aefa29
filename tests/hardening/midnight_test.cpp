// Runs the generator through 23:59:59 into the next day at every rate, in simulated time (no JACK, no
// sleeping, host times given explicitly), along both roads out of and back into Quillmark:
//   LTC: generator snapshot per 256-sample buffer -> LTCEncoder -> LTCDecoder -> TimecodeEngineCore;
//   MTC: generator snapshot per pass of the product's MTCSender -> MTCDecoder -> engine core.
// Each output must carry every label exactly once, in order, across the wrap; each LTC frame must start
// when the generator was at its label; and the clock fitted on the receiving side must neither reject a
// frame nor count a jump or a dropout, and must end locked on the generator's running position. When each
// MTC piece goes out is held to the microsecond by the MTC sender's test (at 25 fps; at the other rates a
// piece sent at the wrong time shows here as a clock off the generator's line), and what the decoder makes
// of the pieces through midnight by the decoder's (tests/midi/).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/frame_rate.h"
#include "core/generator.h"
#include "core/timecode.h"
#include "engine/timecode_engine_core.h"
#include "ltc/ltc_decoder.h"
#include "ltc/ltc_encoder.h"
#include "midi/mtc.h"
#include "midi/mtc_decoder.h"
#include "midi/mtc_sender.h"
#include "tests/midi/simulated_wire.h"

namespace quillmark {

// Test names show the rate by its raw value.
static void PrintTo(FrameRate rate, std::ostream* os) {
  *os << rawValue(rate);
}

namespace {

constexpr double kHostStart = 5000.0;  // host seconds at which the generator starts
constexpr double kRunSeconds = 20.0;   // 23:59:50:00 to 00:00:10:00 (less at the pulldown rates)
constexpr const char* kStartLabel = "23:59:50:00";
constexpr double kSampleRate = 48000.0;
constexpr std::int64_t kBufferFrames = 256;

// A difference in frames folded into half a day either way, so a label just after midnight compares with
// a position just past framesPerDay.
double folded(double frames, FrameRate rate) {
  const double day = static_cast<double>(framesPerDay(rate));
  return frames - std::round(frames / day) * day;
}

// Every label in `labels` follows the one before it by exactly `step` frames at `rate`, midnight
// included, and the run crosses midnight: it starts in hour 23 and ends in hour 0.
void expectUnbrokenAcrossMidnight(const std::vector<Timecode>& labels, FrameRate rate, std::int64_t step) {
  ASSERT_GE(labels.size(), 2u);
  EXPECT_EQ(labels.front().hours, 23);
  EXPECT_EQ(labels.back().hours, 0);
  for (std::size_t i = 1; i < labels.size(); ++i) {
    ASSERT_EQ(labels[i], Timecode::fromFrame(labels[i - 1].frameNumber(rate) + step, rate))
        << "after " << labels[i - 1].description() << " came " << labels[i].description();
  }
}

void expectCleanClock(TimecodeEngineCore& engine, FrameRate rate, const Generator& generator, double end) {
  const TimecodeClock clock = engine.clock.read();
  EXPECT_EQ(clock.jumps + clock.rejected + clock.dropouts, 0)
      << clock.jumps << " jumps, " << clock.rejected << " rejected, " << clock.dropouts << " dropouts";
  EXPECT_EQ(clock.rate, rate) << "the clock settles on " << rawValue(clock.rate);
  const ClockSnapshot snapshot = clock.snapshot();
  EXPECT_EQ(snapshot.state(end), TimecodeClock::State::locked);
  const std::optional<double> position = snapshot.position(end);
  ASSERT_TRUE(position.has_value());
  // The clock keeps counting past the end of the day instead of folding back, like the generator.
  EXPECT_GT(*position, static_cast<double>(framesPerDay(rate)));
  EXPECT_NEAR(folded(*position - generator.runningPosition(end), rate), 0.0, 0.05);
}

// Generator -> encoder -> decoder -> engine clock for kRunSeconds from kHostStart.
void checkLTCRoad(const Generator& generator, FrameRate rate) {
  TimecodeEngineCore engine;  // LTC in, rate detected as in the studio
  LTCEncoder encoder(kSampleRate);
  LTCDecoder decoder(kSampleRate);
  std::vector<float> buffer(kBufferFrames);

  std::vector<Timecode> labels;
  double worstTiming = 0.0;
  std::int64_t sample = 0;
  double end = kHostStart;
  for (; end < kHostStart + kRunSeconds; end = kHostStart + static_cast<double>(sample) / kSampleRate) {
    // The output renders the buffer that leaves at `end`; a loopback cable brings it straight back.
    const ClockSnapshot snapshot = generator.snapshot(end);
    const std::optional<double> position = snapshot.position(end);
    ASSERT_TRUE(position.has_value());
    encoder.setRate(snapshot.rate);
    encoder.render(buffer.data(), kBufferFrames, *position, snapshot.slope / kSampleRate);

    const double bufferTime = end;
    const std::int64_t bufferStart = sample;
    decoder.process(buffer.data(), kBufferFrames, bufferStart, [&](const LTCDecoder::Frame& found) {
      const double time = bufferTime + (found.start - static_cast<double>(bufferStart)) / kSampleRate;
      engine.receiveLTC(found.frame, time, found.length / kSampleRate, found.reverse);
      labels.push_back(found.frame.timecode);
      const double label = static_cast<double>(found.frame.timecode.frameNumber(rate));
      worstTiming = std::max(worstTiming, std::fabs(folded(generator.runningPosition(time) - label, rate)));
    });
    sample += kBufferFrames;
  }

  EXPECT_EQ(decoder.errors(), 0);
  EXPECT_GE(static_cast<double>(labels.size()), kRunSeconds * realFramesPerSecond(rate) - 3);
  expectUnbrokenAcrossMidnight(labels, rate, 1);
  // Each frame began on the line when the generator was at its label (to a hundredth of a frame).
  EXPECT_LT(worstTiming, 0.01);
  expectCleanClock(engine, rate, generator, end);
}

// Generator -> sender passes -> MTC decoder -> engine clock for kRunSeconds from kHostStart. Returns the
// number of full frames the sender sent.
int checkMTCRoad(const Generator& generator, FrameRate rate) {
  TimecodeEngineCore engine;
  engine.source.store(SourceKind::mtc);
  MTCDecoder decoder;
  // The product's own sender pass, with no offset, lead or send-ahead, in simulated host time.
  MTCSender sender;
  test::SimulatedWire wire(kHostStart);
  wire.run(sender, {}, kHostStart + kRunSeconds, [&](double now) { return generator.snapshot(now); });

  std::vector<Timecode> sequences;
  for (const auto& message : wire.sent) {
    decoder.feed(std::span<const std::uint8_t>(message.bytes), message.stamp,
                 [&](const MTCDecoder::Event& event) {
                   engine.receiveMTC(event, "Quillmark");
                   if (const auto* sequence = event.asSequence()) sequences.push_back(sequence->timecode);
                 });
  }

  EXPECT_GE(static_cast<double>(sequences.size()), kRunSeconds * realFramesPerSecond(rate) / 2 - 3);
  expectUnbrokenAcrossMidnight(sequences, rate, 2);
  expectCleanClock(engine, rate, generator, wire.now());
  return wire.fullFrames();
}

class AcrossMidnight : public ::testing::TestWithParam<FrameRate> {};

TEST_P(AcrossMidnight, BothOutputsCarryEveryLabelOnceAndTheClockRunsOn) {
  Generator generator = Generator::fromSettings(GetParam(), false, kStartLabel, kHostStart);
  generator.start(kHostStart);
  checkLTCRoad(generator, GetParam());
  // One full frame when the sender starts, none at midnight: the sender's own quarter-frame sequence
  // runs on past the end of the day, only the labels fold.
  EXPECT_EQ(checkMTCRoad(generator, GetParam()), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryRate, AcrossMidnight, ::testing::ValuesIn(kAllFrameRates));

}  // namespace
}  // namespace quillmark
