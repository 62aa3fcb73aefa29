#include "core/timecode_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/host_time.h"
#include "core/timecode.h"

namespace quillmark {
namespace {

using State = TimecodeClock::State;
using Point = TimecodeClock::Point;
constexpr double kStart = 1000.0;  // host seconds of the first frame; any value will do

// Feeds `count` frames of clean code at `rate`, one per frame duration; returns the last frame's time.
double feed(TimecodeClock& clock, FrameRate rate, double position, double at, int count) {
  const double frame = 1.0 / realFramesPerSecond(rate);
  for (int i = 0; i < count; ++i) clock.observe(position + i, at + i * frame, rate);
  return at + (count - 1) * frame;
}

TEST(TimecodeClock, FirstObservationAcquiresOnTheNominalLineAndLockNeedsThreePoints) {
  TimecodeClock clock;
  clock.observe(90000.0, kStart, FrameRate::fps25);
  EXPECT_EQ(clock.acquiredAt, kStart);
  EXPECT_EQ(clock.points, (std::vector<Point>{{kStart, 90000.0}}));
  EXPECT_EQ(clock.fit, (TimecodeClock::Fit{kStart, 90000.0, 25.0}));
  EXPECT_EQ(clock.snapshot().state(kStart), State::acquiring);
  EXPECT_DOUBLE_EQ(*clock.snapshot().position(kStart + 0.04), 90001.0);

  clock.observe(90008.0, kStart + 0.32, FrameRate::fps25);  // lasted lockTime, but only two points
  EXPECT_FALSE(clock.hasLocked);
  clock.observe(90009.0, kStart + 0.36, FrameRate::fps25);
  EXPECT_EQ(clock.snapshot().state(kStart + 0.36), State::locked);
}

// Three seconds of code with up to 0.1 ms of random arrival jitter at every rate: lock comes at the first
// frame 0.2 s after the first, jitter is measured honestly, speed is 1, and a pulldown twin is told apart
// after half a second but never invented.
TEST(TimecodeClock, LocksMeasuresJitterAndSpeedAndTellsPulldownAtEveryRate) {
  struct Case {
    FrameRate labelledAs;
    double realFps;
    FrameRate expected;
  };
  const std::vector<Case> cases = {
      {FrameRate::fps24, 24000.0 / 1001.0, FrameRate::fps23_976},
      {FrameRate::fps24, 24.0, FrameRate::fps24},
      {FrameRate::fps23_976, 24000.0 / 1001.0, FrameRate::fps23_976},
      {FrameRate::fps25, 25.0, FrameRate::fps25},
      {FrameRate::fps29_97DF, 30000.0 / 1001.0, FrameRate::fps29_97DF},
      {FrameRate::fps30, 30000.0 / 1001.0, FrameRate::fps29_97ND},
      {FrameRate::fps29_97ND, 30000.0 / 1001.0, FrameRate::fps29_97ND},
      {FrameRate::fps30, 30.0, FrameRate::fps30},
  };
  std::mt19937_64 random(20240331);
  std::uniform_real_distribution<double> arrival(-0.0001, 0.0001);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(rawValue(c.labelledAs)) + " at " + std::to_string(c.realFps));
    TimecodeClock clock;
    const int frames = static_cast<int>(3.0 * c.realFps);
    double first = 0.0;
    double sumSquares = 0.0;
    for (int i = 0; i < frames; ++i) {
      const double offset = arrival(random);
      sumSquares += offset * offset;
      const double t = kStart + i / c.realFps + offset;
      if (i == 0) first = t;
      clock.observe(36000.0 + i, t, c.labelledAs);
      ASSERT_EQ(clock.hasLocked, t - first >= 0.2) << "frame " << i;
      ASSERT_TRUE(i >= 20 || clock.jitter.has_value() == (i + 1 >= 8)) << "frame " << i;
      ASSERT_TRUE(t - first > 0.5 || clock.rate == c.labelledAs) << "reclassified early at frame " << i;
      ASSERT_TRUE(t - first < 0.6 || clock.rate == c.expected) << "frame " << i;
    }
    const double fed = std::sqrt(sumSquares / frames);
    EXPECT_GT(clock.jitter.value_or(0.0), fed / 2.0);
    EXPECT_LT(clock.jitter.value_or(1.0), fed * 2.0);
    EXPECT_NEAR(clock.speed().value_or(0.0), 1.0, 0.001);
    EXPECT_EQ(clock.rejected + clock.jumps + clock.dropouts, 0);
  }
}

TEST(TimecodeClock, RateIsKeptWhenDetectionIsOffOrTheInputRateCountsTheSameLabels) {
  TimecodeClock clock;
  clock.detectsPulldown = false;
  for (int i = 0; i < 60; ++i) clock.observe(i, kStart + i * 1001.0 / 30000.0, FrameRate::fps30);
  EXPECT_EQ(clock.rate, FrameRate::fps30);
  clock.rate = FrameRate::fps29_97ND;  // as if detected earlier
  clock.observe(60, kStart + 60 * 1001.0 / 30000.0, FrameRate::fps30);
  EXPECT_TRUE(clock.rate == FrameRate::fps29_97ND && clock.hasLocked);
  clock.observe(61, kStart + 61 * 1001.0 / 30000.0, FrameRate::fps29_97DF);  // other labels: start over
  EXPECT_TRUE(clock.rate == FrameRate::fps29_97DF && !clock.hasLocked && clock.points.size() == 1);
}

TEST(TimecodeClock, StrayFrameIsRejectedUntilTheNextFrameConfirmsAJump) {
  TimecodeClock clock;
  double last = feed(clock, FrameRate::fps25, 0.0, kStart, 20);
  const auto fit = clock.fit;
  const auto points = clock.points;
  clock.observe(30, last + 0.04, FrameRate::fps25);  // ten frames off
  EXPECT_EQ(clock.rejected, 1);
  EXPECT_EQ(clock.fit, fit);
  EXPECT_EQ(clock.points, points);
  clock.observe(21, last + 0.08, FrameRate::fps25);
  EXPECT_FALSE(clock.pendingJump.has_value());
  EXPECT_EQ(clock.points.back(), (Point{last + 0.08, 21.0}));
  EXPECT_TRUE(clock.hasLocked);

  last += 0.08;
  clock.observe(122, last + 0.04, FrameRate::fps25);  // a real jump of 100 frames
  clock.observe(123, last + 0.08, FrameRate::fps25);
  EXPECT_EQ(clock.jumps, 1);
  EXPECT_EQ(clock.rejected, 1);  // the first stray only
  EXPECT_EQ(clock.points, (std::vector<Point>{{last + 0.04, 122.0}, {last + 0.08, 123.0}}));
  EXPECT_EQ(clock.acquiredAt, last + 0.04);
  EXPECT_EQ(clock.snapshot().state(last + 0.08), State::acquiring);
  feed(clock, FrameRate::fps25, 124.0, last + 0.12, 5);  // past 0.2 s since the new acquisition began
  EXPECT_TRUE(clock.hasLocked);

  // More than half a day away is unwrapped like a midnight wrap, then confirmed the same way.
  TimecodeClock far;
  last = feed(far, FrameRate::fps25, 90000.0, kStart, 20);  // 01:00:00:00
  const double fourteen = Timecode{14, 0, 0, 0}.frameNumber(FrameRate::fps25);
  far.observe(fourteen, last + 0.04, FrameRate::fps25);
  far.observe(fourteen + 1, last + 0.08, FrameRate::fps25);
  EXPECT_EQ(far.jumps, 1);
  EXPECT_EQ(far.rejected, 0);
  EXPECT_EQ(far.points.back().position, fourteen + 1 - 2160000.0);
}

TEST(TimecodeClock, MidnightContinuesTheLineAtEveryRate) {
  for (FrameRate rate : kAllFrameRates) {
    SCOPED_TRACE(rawValue(rate));
    TimecodeClock clock;
    const std::int64_t day = framesPerDay(rate);
    const std::int64_t first = day - 2 * framesPerSecond(rate);
    const std::int64_t end = day + 2 * framesPerSecond(rate);
    const double frame = 1.0 / realFramesPerSecond(rate);
    for (std::int64_t n = first; n < end; ++n) {
      const double label = Timecode::fromFrame(n, rate).frameNumber(rate);  // labels fold at midnight
      clock.observe(label, kStart + (n - first) * frame, rate);
      ASSERT_EQ(clock.points.back().position, static_cast<double>(n));
    }
    EXPECT_EQ(clock.rejected + clock.jumps + clock.dropouts, 0);
    EXPECT_EQ(clock.rate, rate);
    EXPECT_NEAR(*clock.snapshot().position(kStart + (end - 1 - first) * frame), end - 1.0, 1e-6);
  }
}

TEST(TimecodeClock, ShortGapFreewheelsAndLongGapCountsADropout) {
  TimecodeClock clock;
  double last = feed(clock, FrameRate::fps25, 0.0, kStart, 25);
  ClockSnapshot snap = clock.snapshot();
  EXPECT_EQ(snap.state(last + 0.099), State::locked);  // the window is 0.1 s at 25 fps
  EXPECT_EQ(snap.state(last + 0.15), State::freewheel);
  EXPECT_NEAR(*snap.position(last + 0.3), 24.0 + 0.3 * 25.0, 1e-9);
  clock.observe(32, last + 0.32, FrameRate::fps25);  // the code kept running through 0.3 s of silence
  EXPECT_EQ(clock.snapshot().state(last + 0.32), State::locked);
  EXPECT_EQ(clock.dropouts, 0);

  last += 0.32;
  snap = clock.snapshot();
  EXPECT_EQ(snap.state(last + 2.09), State::freewheel);  // window + 2 s of freewheel
  EXPECT_FALSE(snap.position(last + 2.11).has_value());
  clock.observe(47, last + 0.6, FrameRate::fps25);
  EXPECT_EQ(clock.dropouts, 1);
  EXPECT_EQ(clock.acquiredAt, last + 0.6);
  EXPECT_EQ(clock.snapshot().state(last + 0.6), State::acquiring);

  // Without freewheel, locked turns to stopped once the window (2.5 frames at 24 fps) has passed.
  TimecodeClock strict;
  strict.freewheelDuration = 0.0;
  last = feed(strict, FrameRate::fps24, 0.0, kStart, 24);
  EXPECT_EQ(strict.snapshot().state(last + 0.104), State::locked);
  EXPECT_EQ(strict.snapshot().state(last + 0.105), State::stopped);
}

TEST(HostTime, NegativeOrUndefinedSecondsAreZeroTicks) {
  EXPECT_EQ(HostTime::ticks(-1.0), 0u);
  EXPECT_EQ(HostTime::ticks(std::nan("")), 0u);
  EXPECT_NEAR(HostTime::seconds(HostTime::ticks(12345.678901)), 12345.678901, 1e-9);
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

// Damaged numbers must neither hang the receiving thread nor poison the line.
TEST(TimecodeClock, AbsurdObservationsAreAbsorbedAndCounted) {
  TimecodeClock clock;
  const double last = feed(clock, FrameRate::fps25, 0.0, kStart, 20);
  const auto fit = clock.fit;
  clock.observe(std::numeric_limits<double>::quiet_NaN(), last + 0.04, FrameRate::fps25);
  clock.observe(20, std::numeric_limits<double>::infinity(), FrameRate::fps25);
  clock.observe(1e300, last + 0.04, FrameRate::fps25);  // ~1e294 days from the line
  EXPECT_EQ(clock.rejected, 3);
  EXPECT_EQ(clock.fit, fit);
  clock.observe(21, last + 0.08, FrameRate::fps25);
  EXPECT_EQ(clock.points.back().position, 21.0);

  // A flood of events with one stamp fills the window's storage and no more.
  TimecodeClock flood;
  for (std::size_t i = 0; i < 3 * TimecodeClock::kWindowCapacity; ++i)
    flood.observe(0, kStart, FrameRate::fps25);
  EXPECT_EQ(flood.points.size(), TimecodeClock::kWindowCapacity);
  EXPECT_EQ(flood.points.capacity(), TimecodeClock::kWindowCapacity);
}

}  // namespace
}  // namespace quillmark
