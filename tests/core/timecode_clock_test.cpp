#include "core/timecode_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/clock_snapshot.h"
#include "core/timecode.h"

namespace quillmark {
namespace {

using State = TimecodeClock::State;

constexpr double kStart = 1000.0;  // host seconds of the first frame; any value will do

// Feeds `count` frames of clean code at `rate` starting at `position`, one per frame duration, and
// returns the time of the last one.
double feed(TimecodeClock& clock, FrameRate rate, double position, double at, int count) {
  const double frame = 1.0 / realFramesPerSecond(rate);
  for (int i = 0; i < count; ++i) clock.observe(position + i, at + i * frame, rate);
  return at + (count - 1) * frame;
}

TEST(TimecodeClock, FirstObservationStartsAcquisitionOnTheNominalLine) {
  TimecodeClock clock;
  clock.observe(90000.0, kStart, FrameRate::fps25);

  EXPECT_EQ(clock.acquiredAt, kStart);
  ASSERT_EQ(clock.points.size(), 1u);
  EXPECT_EQ(clock.fit, (TimecodeClock::Fit{kStart, 90000.0, 25.0}));
  EXPECT_FALSE(clock.speed().has_value());
  const ClockSnapshot snap = clock.snapshot();
  EXPECT_EQ(snap.state(kStart), State::acquiring);
  EXPECT_DOUBLE_EQ(*snap.position(kStart + 0.04), 90001.0);
}

struct RateCase {
  const char* name;
  FrameRate labelledAs;    // the rate the input reports
  double realFps;          // the speed the code actually runs at
  FrameRate expectedRate;  // what the clock settles on
};

// One frame per frame duration with up to 0.1 ms of random arrival jitter, three seconds long: lock comes
// at the first frame 0.2 s after the first, jitter is measured honestly, speed is 1, and a pulldown twin
// is told apart after half a second but never invented.
TEST(TimecodeClock, LocksMeasuresJitterAndSpeedAndTellsPulldownAtEveryRate) {
  const std::vector<RateCase> cases = {
      {"23.976 labelled 24", FrameRate::fps24, 24000.0 / 1001.0, FrameRate::fps23_976},
      {"24", FrameRate::fps24, 24.0, FrameRate::fps24},
      {"23.976", FrameRate::fps23_976, 24000.0 / 1001.0, FrameRate::fps23_976},
      {"25", FrameRate::fps25, 25.0, FrameRate::fps25},
      {"29.97 DF", FrameRate::fps29_97DF, 30000.0 / 1001.0, FrameRate::fps29_97DF},
      {"29.97 labelled 30", FrameRate::fps30, 30000.0 / 1001.0, FrameRate::fps29_97ND},
      {"29.97 ND", FrameRate::fps29_97ND, 30000.0 / 1001.0, FrameRate::fps29_97ND},
      {"30", FrameRate::fps30, 30.0, FrameRate::fps30},
  };
  std::mt19937_64 random(20240331);
  std::uniform_real_distribution<double> arrival(-0.0001, 0.0001);

  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.name);
    TimecodeClock clock;
    const double firstPosition = 3600.0 * static_cast<double>(framesPerSecond(c.labelledAs));
    const int frames = static_cast<int>(3.0 * c.realFps);
    double firstTime = 0.0;
    double sumSquares = 0.0;
    for (int i = 0; i < frames; ++i) {
      const double offset = arrival(random);
      sumSquares += offset * offset;
      const double t = kStart + i / c.realFps + offset;
      if (i == 0) firstTime = t;
      clock.observe(firstPosition + i, t, c.labelledAs);

      ASSERT_EQ(clock.hasLocked, t - firstTime >= 0.2) << "frame " << i;
      if (i < static_cast<int>(c.realFps)) {
        ASSERT_EQ(clock.jitter.has_value(), i + 1 >= 8) << "frame " << i;
      }
      if (t - firstTime <= 0.5) {
        ASSERT_EQ(clock.rate, c.labelledAs) << "reclassified too early at frame " << i;
      } else if (t - firstTime >= 0.6) {
        ASSERT_EQ(clock.rate, c.expectedRate) << "frame " << i;
      }
    }
    const double fedJitter = std::sqrt(sumSquares / frames);
    ASSERT_TRUE(clock.jitter.has_value());
    EXPECT_GT(*clock.jitter, fedJitter / 2.0);
    EXPECT_LT(*clock.jitter, fedJitter * 2.0);
    ASSERT_TRUE(clock.speed().has_value());
    EXPECT_NEAR(*clock.speed(), 1.0, 0.001);
    EXPECT_EQ(clock.rejected, 0);
    EXPECT_EQ(clock.jumps, 0);
    EXPECT_EQ(clock.dropouts, 0);
  }
}

TEST(TimecodeClock, PulldownDetectionIsLeftAloneWhenSwitchedOffOrWhenTheRateIsForcedCompatibly) {
  TimecodeClock off;
  off.detectsPulldown = false;
  for (int i = 0; i < 60; ++i) off.observe(i, kStart + i * 1001.0 / 30000.0, FrameRate::fps30);
  EXPECT_EQ(off.rate, FrameRate::fps30);
  EXPECT_TRUE(off.hasLocked);

  // Once 23.976 is detected, frames counted at a forced 24 are the same labels: the rate stays.
  TimecodeClock detected;
  for (int i = 0; i < 30; ++i) detected.observe(i, kStart + i * 1001.0 / 24000.0, FrameRate::fps24);
  ASSERT_EQ(detected.rate, FrameRate::fps23_976);
  detected.detectsPulldown = false;
  detected.observe(30, kStart + 30 * 1001.0 / 24000.0, FrameRate::fps24);
  EXPECT_EQ(detected.rate, FrameRate::fps23_976);
  EXPECT_TRUE(detected.hasLocked);

  // A rate with other labels is other code: start over in it.
  detected.observe(1000, kStart + 2.0, FrameRate::fps25);
  EXPECT_EQ(detected.rate, FrameRate::fps25);
  EXPECT_FALSE(detected.hasLocked);
  EXPECT_EQ(detected.points.size(), 1u);
  EXPECT_EQ(detected.dropouts, 0);
}

TEST(TimecodeClock, StrayFrameIsRejectedAndTheLineRunsOn) {
  TimecodeClock clock;
  const double last = feed(clock, FrameRate::fps25, 0.0, kStart, 20);
  const auto fitBefore = clock.fit;
  const auto pointsBefore = clock.points;

  clock.observe(20 + 10, last + 0.04, FrameRate::fps25);
  EXPECT_EQ(clock.rejected, 1);
  EXPECT_EQ(clock.jumps, 0);
  EXPECT_EQ(clock.fit, fitBefore);
  EXPECT_EQ(clock.points, pointsBefore);
  EXPECT_TRUE(clock.pendingJump.has_value());
  EXPECT_EQ(clock.snapshot().state(last + 0.04), State::locked);

  clock.observe(21, last + 0.08, FrameRate::fps25);
  EXPECT_FALSE(clock.pendingJump.has_value());
  EXPECT_EQ(clock.points.back(), (TimecodeClock::Point{last + 0.08, 21.0}));
  EXPECT_EQ(clock.rejected, 1);
  EXPECT_TRUE(clock.hasLocked);
}

TEST(TimecodeClock, SecondFrameOfANewRunningTimeConfirmsAJump) {
  TimecodeClock clock;
  const double last = feed(clock, FrameRate::fps25, 0.0, kStart, 20);
  ASSERT_TRUE(clock.hasLocked);

  const double first = last + 0.04;
  clock.observe(120, first, FrameRate::fps25);
  EXPECT_EQ(clock.rejected, 1);
  clock.observe(121, first + 0.04, FrameRate::fps25);
  EXPECT_EQ(clock.jumps, 1);
  EXPECT_EQ(clock.rejected, 0);
  EXPECT_EQ(clock.points, (std::vector<TimecodeClock::Point>{{first, 120.0}, {first + 0.04, 121.0}}));
  EXPECT_EQ(clock.acquiredAt, first);
  EXPECT_FALSE(clock.hasLocked);
  EXPECT_EQ(clock.snapshot().state(first + 0.04), State::acquiring);

  // Locked again once the new acquisition has lasted 0.2 s.
  for (int i = 2; i <= 4; ++i) clock.observe(120 + i, first + 0.04 * i, FrameRate::fps25);
  EXPECT_FALSE(clock.hasLocked);
  clock.observe(126, first + 0.24, FrameRate::fps25);
  EXPECT_TRUE(clock.hasLocked);
  EXPECT_EQ(clock.snapshot().state(first + 0.24), State::locked);

  // More than half a day away is unwrapped like a midnight wrap, then confirmed the same way.
  TimecodeClock far;
  const double end = feed(far, FrameRate::fps25, 90000.0, kStart, 20);  // 01:00:00:00
  const double fourteen = Timecode{14, 0, 0, 0}.frameNumber(FrameRate::fps25);
  far.observe(fourteen, end + 0.04, FrameRate::fps25);
  far.observe(fourteen + 1, end + 0.08, FrameRate::fps25);
  EXPECT_EQ(far.jumps, 1);
  EXPECT_EQ(far.rejected, 0);
  EXPECT_EQ(far.points.back().position, fourteen + 1 - 2160000.0);
  EXPECT_EQ(Timecode::fromFrame(static_cast<std::int64_t>(far.points.back().position), FrameRate::fps25),
            (Timecode{14, 0, 0, 1}));
}

// A clock running through 23:59:59:xx into 00:00:00:00 keeps counting on one straight line.
TEST(TimecodeClock, MidnightContinuesTheLineAtEveryRate) {
  for (FrameRate rate : kAllFrameRates) {
    SCOPED_TRACE(rawValue(rate));
    TimecodeClock clock;
    clock.detectsPulldown = false;
    const std::int64_t day = framesPerDay(rate);
    const double frame = 1.0 / realFramesPerSecond(rate);
    const std::int64_t first = day - 2 * framesPerSecond(rate);
    for (std::int64_t n = first; n < day + 2 * framesPerSecond(rate); ++n) {
      // The input hands over labels, which fold at midnight.
      const Timecode label = Timecode::fromFrame(n, rate);
      clock.observe(static_cast<double>(label.frameNumber(rate)), kStart + (n - first) * frame, rate);
      ASSERT_EQ(clock.points.back().position, static_cast<double>(n));
    }
    EXPECT_EQ(clock.rejected, 0);
    EXPECT_EQ(clock.jumps, 0);
    EXPECT_EQ(clock.dropouts, 0);
    EXPECT_TRUE(clock.hasLocked);
    EXPECT_NEAR(*clock.speed(), 1.0, 1e-9);
    const double last = kStart + (day + 2 * framesPerSecond(rate) - 1 - first) * frame;
    EXPECT_NEAR(*clock.snapshot().position(last), static_cast<double>(day + 2 * framesPerSecond(rate) - 1),
                1e-6);
  }
}

TEST(TimecodeClock, ShortGapFreewheelsAndLongGapCountsADropout) {
  TimecodeClock clock;
  double last = feed(clock, FrameRate::fps25, 0.0, kStart, 25);
  ASSERT_TRUE(clock.hasLocked);

  // 0.3 s of silence in code that kept running.
  ClockSnapshot snap = clock.snapshot();
  EXPECT_EQ(snap.state(last + 0.099), State::locked);  // the window is 0.1 s at 25 fps
  EXPECT_EQ(snap.state(last + 0.15), State::freewheel);
  EXPECT_NEAR(*snap.position(last + 0.3), 24.0 + 0.3 * 25.0, 1e-9);
  clock.observe(24 + 8, last + 0.32, FrameRate::fps25);
  EXPECT_EQ(clock.snapshot().state(last + 0.32), State::locked);
  EXPECT_EQ(clock.dropouts, 0);
  last += 0.32;

  // Freewheel ends at window + freewheelDuration.
  snap = clock.snapshot();
  EXPECT_EQ(snap.state(last + 2.09), State::freewheel);
  EXPECT_EQ(snap.state(last + 2.11), State::stopped);
  EXPECT_FALSE(snap.position(last + 2.11).has_value());

  // 0.6 s: the next frame restarts acquisition.
  clock.observe(32 + 15, last + 0.6, FrameRate::fps25);
  EXPECT_EQ(clock.dropouts, 1);
  EXPECT_EQ(clock.acquiredAt, last + 0.6);
  EXPECT_EQ(clock.points.size(), 1u);
  EXPECT_EQ(clock.snapshot().state(last + 0.6), State::acquiring);

  // Without freewheel a locked clock stops as soon as the window has passed; so does one never locked.
  TimecodeClock strict;
  strict.freewheelDuration = 0.0;
  last = feed(strict, FrameRate::fps24, 0.0, kStart, 24);
  snap = strict.snapshot();
  EXPECT_EQ(snap.state(last + 0.104), State::locked);  // 2.5 frames at 24 fps
  EXPECT_EQ(snap.state(last + 0.105), State::stopped);
  TimecodeClock young;
  young.observe(0, kStart, FrameRate::fps25);
  EXPECT_EQ(young.snapshot().state(kStart + 0.11), State::stopped);
  EXPECT_EQ(TimecodeClock{}.snapshot().state(kStart), State::stopped);
}

TEST(TimecodeClock, ReversePlayNeverLocksAndRestartsEveryHalfSecond) {
  TimecodeClock clock;
  for (int i = 0; i < 50; ++i) {
    clock.observe(5000 - i, kStart + i * 0.04, FrameRate::fps25);
    ASSERT_FALSE(clock.hasLocked);
    ASSERT_EQ(clock.points.size(), 1u);
  }
  EXPECT_EQ(clock.dropouts, 3);  // restarts at 0.52, 1.04 and 1.56 s
  EXPECT_EQ(clock.jumps, 0);
}

TEST(TimecodeClock, ResetInputForgetsTheInputButKeepsTheSettings) {
  TimecodeClock clock;
  clock.freewheelDuration = 5.0;
  feed(clock, FrameRate::fps30, 0.0, kStart, 40);
  clock.observe(900, kStart + 40 / 30.0, FrameRate::fps30);
  ASSERT_EQ(clock.rejected, 1);
  clock.resetInput();
  EXPECT_TRUE(clock.points.empty());
  EXPECT_EQ(clock.rejected, 0);
  EXPECT_FALSE(clock.hasLocked || clock.fit || clock.acquiredAt || clock.pendingJump || clock.jitter);
  EXPECT_EQ(clock.rate, FrameRate::fps30);
  EXPECT_EQ(clock.freewheelDuration, 5.0);
  EXPECT_EQ(clock.snapshot().state(kStart), State::stopped);
}

// Damaged numbers must neither hang the receiving thread nor poison the line.
TEST(TimecodeClock, AbsurdObservationsAreAbsorbedAndCounted) {
  TimecodeClock clock;
  const double last = feed(clock, FrameRate::fps25, 0.0, kStart, 20);
  const auto fitBefore = clock.fit;
  clock.observe(std::numeric_limits<double>::quiet_NaN(), last + 0.04, FrameRate::fps25);
  clock.observe(20, std::numeric_limits<double>::infinity(), FrameRate::fps25);
  clock.observe(1e300, last + 0.04, FrameRate::fps25);   // would take ~1e294 steps of one day
  clock.observe(9.2e18, last + 0.04, FrameRate::fps25);  // where subtracting a day changes nothing
  EXPECT_EQ(clock.rejected, 4);
  EXPECT_EQ(clock.fit, fitBefore);
  clock.observe(21, last + 0.08, FrameRate::fps25);
  EXPECT_EQ(clock.points.back().position, 21.0);
  EXPECT_TRUE(clock.hasLocked);

  // A flood of events with one stamp fills the window's storage and no more.
  TimecodeClock flood;
  for (std::size_t i = 0; i < 3 * TimecodeClock::kWindowCapacity; ++i)
    flood.observe(0.0, kStart, FrameRate::fps25);
  EXPECT_EQ(flood.points.size(), TimecodeClock::kWindowCapacity);
  EXPECT_EQ(flood.points.capacity(), TimecodeClock::kWindowCapacity);
}

}  // namespace
}  // namespace quillmark
