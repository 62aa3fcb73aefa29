// The MTC sender's decisions (MTCSender), driven pass by pass in simulated host time: what it sends, the
// due time each message carries, and when it resynchronises with a full frame.
#include "midi/mtc_sender.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/generator.h"
#include "tests/midi/simulated_wire.h"

namespace quillmark {
namespace {

using test::runningClock;
using test::SimulatedWire;

constexpr double kStart = 2000.0;  // host seconds at which every run begins

// Quarter frames in `sent` from `from` on each carry the piece after the one before (none repeated, none
// skipped) and there is no full frame among them.
void expectOneUnbrokenSequence(const std::vector<SimulatedWire::Message>& sent, std::size_t from) {
  for (std::size_t i = from + 1; i < sent.size(); ++i) {
    ASSERT_FALSE(sent[i].isFullFrame()) << "message " << i;
    ASSERT_EQ(sent[i].bytes[1] >> 4, ((sent[i - 1].bytes[1] >> 4) + 1) % 8) << "message " << i;
  }
}

// The generator is a perfect source: readable however far ahead the sender looks (period, playback
// latency and lead together), so every quarter frame goes out, each stamped with the instant the
// generator, lead and offset applied, reaches its start.
TEST(MTCSender, FollowsTheGeneratorWithEveryQuarterFrameOnTimeAtEveryPeriodLeadAndOffset) {
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", kStart);
  generator.start(kStart);
  for (const int period : {64, 256, 1024, 2048, 8192}) {
    for (const double lead : {-0.1, -0.04, 0.0, 0.057, 0.08, 0.1}) {
      for (const double offset : {0.0, -2.5}) {
        SCOPED_TRACE("period " + std::to_string(period) + ", lead " + std::to_string(lead) + ", offset " +
                     std::to_string(offset));
        MTCSender sender;
        SimulatedWire wire(kStart);
        wire.run(sender, {offset, lead, period / 48000.0}, kStart + 1.0,
                 [&](double now) { return generator.snapshot(now); });
        ASSERT_GT(wire.sent.size(), 95u);  // a full frame, then 100 quarter frames a second
        const auto positionAt = [&](double stamp) {
          return generator.runningPosition(stamp + lead) + offset;
        };
        const std::vector<std::uint8_t>& full = wire.sent[0].bytes;
        ASSERT_TRUE(wire.sent[0].isFullFrame());
        EXPECT_EQ(
            test::fullFrameLabel(full),
            Timecode::fromFrame(std::llround(std::floor(positionAt(wire.sent[0].stamp))), FrameRate::fps25));
        for (std::size_t i = 1; i < wire.sent.size(); ++i) {
          const double quarters = 4.0 * positionAt(wire.sent[i].stamp);
          const std::int64_t index = std::llround(quarters);
          ASSERT_NEAR(quarters, static_cast<double>(index), 1e-6) << "message " << i;
          const auto expected = MTC::quarterFrame(index, FrameRate::fps25);
          ASSERT_EQ(wire.sent[i].bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()))
              << "message " << i;
        }
        expectOneUnbrokenSequence(wire.sent, 1);
      }
    }
  }
}

// A running clock at `framesPerSecond` from 01:00:00:00 at kStart that steps by `step` frames at host
// time `at`, read as live at every instant.
ClockSnapshot steppingClock(double now, double framesPerSecond, double step, double at) {
  return runningClock(FrameRate::fps25, 90000.0 + (now >= at ? step : 0.0), kStart, now,
                      framesPerSecond / 25.0);
}

// A step of up to a quarter frame either way is taken in the sender's stride: no full frame, no piece
// sent twice or skipped. A larger step sends exactly one full frame. Steps land at several phases of the
// quarter frame, with and without send-ahead.
TEST(MTCSender, ResynchronisesOnlyForStepsBeyondAQuarterFrameEitherWay) {
  for (const double horizon : {0.0, 1024 / 48000.0}) {
    for (const double phase : {0.0003, 0.0041, 0.0087}) {
      for (const double quarters : {-1.0, -0.5, 0.5, 1.0, -1.5, 1.5, -2.0, 2.0, -400.0, 1000.0}) {
        SCOPED_TRACE("step " + std::to_string(quarters) + " quarter frames at phase " +
                     std::to_string(phase) + ", horizon " + std::to_string(horizon));
        const double at = kStart + 0.5 + phase;
        MTCSender sender;
        SimulatedWire wire(kStart);
        wire.run(sender, {0.0, 0.0, horizon}, kStart + 1.0,
                 [&](double now) { return steppingClock(now, 25.0, quarters / 4.0, at); });
        const bool small = std::fabs(quarters) <= 1.0;
        EXPECT_EQ(wire.fullFrames(), small ? 1 : 2);
        if (small) expectOneUnbrokenSequence(wire.sent, 1);
      }
    }
  }
}

TEST(MTCSender, SendsAFullFrameOnlyWhenTheTimeJumpsOrTheRateCodeChanges) {
  MTCSender sender;
  SimulatedWire wire(kStart);
  FrameRate rate = FrameRate::fps29_97ND;
  double position = 108000.0, since = kStart;
  // From the moment of the change the clock runs at `newRate` from its position converted to the new
  // rate's count (`scale`) and moved by `jump` frames; half a second of passes follow.
  const auto change = [&](FrameRate newRate, double scale, double jump) {
    position = (position + (wire.now() - since) * realFramesPerSecond(rate)) * scale + jump;
    since = wire.now();
    rate = newRate;
    const std::size_t mark = wire.sent.size();
    wire.run(sender, {}, since + 0.5, [&](double now) { return runningClock(rate, position, since, now); });
    return mark;
  };
  EXPECT_EQ(wire.fullFrames(change(FrameRate::fps29_97ND, 1.0, 0.0)), 1) << "sending starts";
  EXPECT_EQ(wire.fullFrames(change(FrameRate::fps30, 1.0, 0.0)), 0) << "29.97 non-drop and 30 share a code";
  EXPECT_EQ(wire.fullFrames(change(FrameRate::fps25, 25.0 / 30.0, 0.0)), 1) << "25 has a code of its own";
  const std::size_t locate = change(FrameRate::fps25, 1.0, 250.0);
  ASSERT_EQ(wire.fullFrames(locate), 1) << "a locate 10 s forward";
  const std::vector<std::uint8_t>& full = wire.sent[locate].bytes;
  EXPECT_EQ(full[5], 0x20 | static_cast<int>(position / 90000));  // rate code 1, hours
  EXPECT_NEAR(static_cast<double>(test::fullFrameLabel(full).frameNumber(FrameRate::fps25)), position, 1.0)
      << "the new position";
  EXPECT_EQ(
      wire.fullFrames(change(FrameRate::fps25, 1.0, -static_cast<double>(framesPerDay(FrameRate::fps25)))), 0)
      << "a position folded by a whole day, as the time-of-day generator folds at midnight";
}

// Stopped, running backwards or lost (the freewheel ran out: ClockSnapshot's business, judged in
// timecode_clock_test), the clock gives no position and nothing goes out; sending resumes with a full frame,
// also where the line simply goes on.
TEST(MTCSender, FallsSilentWhileTheClockGivesNoPositionAndResumesWithAFullFrame) {
  const FrameRate rate = FrameRate::fps25;
  const auto live = [&](double now) { return runningClock(rate, 90000.0, kStart, now); };
  MTCSender sender;
  SimulatedWire wire(kStart);
  wire.run(sender, {}, kStart + 0.5, live);
  const std::size_t silent = wire.sent.size();
  ASSERT_GT(silent, 40u);
  wire.run(sender, {}, kStart + 1.0, [](double) { return ClockSnapshot{}; });
  wire.run(sender, {}, kStart + 1.5, [&](double now) { return runningClock(rate, 1e5, now, now, -1.0); });
  wire.run(sender, {}, kStart + 2.0, [&](double) { return runningClock(rate, 90000.0, kStart, kStart); });
  EXPECT_EQ(wire.sent.size(), silent) << "sent while idle, running backwards or after the freewheel";
  wire.run(sender, {}, kStart + 2.5, live);
  ASSERT_GT(wire.sent.size(), silent + 40);
  EXPECT_TRUE(wire.sent[silent].isFullFrame());
  EXPECT_EQ(wire.fullFrames(silent), 1);
}

// Below 5 fps the next quarter frame is often too far ahead to wait for: the pass looks again later, but
// the full frame it sent stands.
TEST(MTCSender, SendsOneFullFramePerLocateForASlowClock) {
  for (const double framesPerSecond : {1.0, 4.0}) {
    MTCSender sender;
    SimulatedWire wire(kStart);
    wire.run(sender, {}, kStart + 6.0,
             [&](double now) { return steppingClock(now, framesPerSecond, 100.0, kStart + 3.0); });
    EXPECT_EQ(wire.fullFrames(), 2) << framesPerSecond << " fps: at the start and after the locate";
    EXPECT_GE(wire.sent.size(), static_cast<std::size_t>(4 * 6 * framesPerSecond)) << framesPerSecond;
  }
}

}  // namespace
}  // namespace quillmark
