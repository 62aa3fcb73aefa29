#include "core/timecode_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "core/generator.h"
#include "core/locked.h"
#include "core/timecode.h"
#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

using State = TimecodeClock::State;
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
  const double film = 24000.0 / 1001.0, ntsc = 30000.0 / 1001.0;
  // (labelled as, real frames per second, expected rate): every rate at its own speed, and the two twins.
  std::vector<std::tuple<FrameRate, double, FrameRate>> cases = {
      {FrameRate::fps24, film, FrameRate::fps23_976}, {FrameRate::fps30, ntsc, FrameRate::fps29_97ND}};
  for (FrameRate rate : kAllFrameRates) cases.emplace_back(rate, realFramesPerSecond(rate), rate);
  std::mt19937_64 random(20240331);
  std::uniform_real_distribution<double> arrival(-0.0001, 0.0001);
  for (const auto& [labelledAs, realFps, expected] : cases) {
    SCOPED_TRACE(std::string(rawValue(labelledAs)) + " at " + std::to_string(realFps));
    TimecodeClock clock;
    const int frames = static_cast<int>(3.0 * realFps);
    double first = 0.0, sumSquares = 0.0;
    for (int i = 0; i < frames; ++i) {
      const double offset = arrival(random);
      sumSquares += offset * offset;
      const double t = kStart + i / realFps + offset;
      if (i == 0) first = t;
      const double elapsed = t - first;
      clock.observe(36000.0 + i, t, labelledAs);
      ASSERT_EQ(clock.hasLocked, elapsed >= 0.2) << "frame " << i;
      ASSERT_TRUE(elapsed > 0.5 || clock.rate == labelledAs) << "reclassified early at frame " << i;
      ASSERT_TRUE(elapsed < 0.6 || clock.rate == expected) << "frame " << i;
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

TEST(TimecodeClock, StrayAndAbsurdFramesAreRejectedUntilTheNextFrameConfirmsAJump) {
  TimecodeClock clock;
  double last = feed(clock, FrameRate::fps25, 0.0, kStart, 20);
  const auto fit = clock.fit;
  clock.observe(30, last + 0.04, FrameRate::fps25);  // ten frames off
  // Damaged numbers must neither hang the receiving thread nor poison the line.
  clock.observe(std::numeric_limits<double>::quiet_NaN(), last + 0.04, FrameRate::fps25);
  clock.observe(20, std::numeric_limits<double>::infinity(), FrameRate::fps25);
  clock.observe(1e300, last + 0.04, FrameRate::fps25);  // ~1e294 days from the line
  EXPECT_EQ(clock.rejected, 4);
  EXPECT_EQ(clock.fit, fit);
  clock.observe(21, last + 0.08, FrameRate::fps25);
  EXPECT_EQ(clock.points.back().position, 21.0);
  EXPECT_TRUE(clock.hasLocked);

  last += 0.08;
  clock.observe(122, last + 0.04, FrameRate::fps25);  // a real jump of 100 frames
  clock.observe(123, last + 0.08, FrameRate::fps25);
  EXPECT_EQ(clock.jumps, 1);
  EXPECT_EQ(clock.rejected, 4);  // the strays only
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
  EXPECT_EQ(far.points.back().position, fourteen + 1 - 2160000.0);

  // A flood of events with one stamp fills the window's storage and no more.
  TimecodeClock flood;
  for (std::size_t i = 0; i < 3 * TimecodeClock::kWindowCapacity; ++i)
    flood.observe(0, kStart, FrameRate::fps25);
  EXPECT_EQ(flood.points.capacity(), TimecodeClock::kWindowCapacity);
}

// Shuttled and varispeeded code: the clock locks, reports the speed, stays locked between frames that come
// further apart than at play speed, follows a locate made there without a dropout, and relocks at the
// right rate when the code drops back to play speed.
TEST(TimecodeClock, LocksOnShuttledCodeFollowsALocateThereAndRelocksBackAtPlaySpeed) {
  const double ntsc = 30000.0 / 1001.0;
  for (const double speed : {0.25, 0.5, 2.0, 2.5}) {
    SCOPED_TRACE(speed);
    TimecodeClock clock;
    const double frame = 1.0 / (ntsc * speed);
    double t = kStart;
    double n = 108000;
    const auto run = [&](int count, double duration) {
      for (int i = 0; i < count; ++i, t += duration) clock.observe(n++, t, FrameRate::fps30);
    };
    run(30, frame);
    ASSERT_TRUE(clock.hasLocked);
    EXPECT_NEAR(*clock.speed(), speed / 1.001, 1e-6);  // against 30, the rate it counts in till it knows
    EXPECT_EQ(clock.snapshot().state(t - frame + 0.9 * frame), State::locked);

    n += 500;  // a locate while shuttling: the second frame there confirms it
    run(2, frame);
    EXPECT_EQ(clock.jumps, 1);
    EXPECT_EQ(clock.dropouts, 0);

    run(30, frame);
    run(60, 1.0 / ntsc);  // back to play speed at once
    EXPECT_EQ(clock.dropouts, 0);
    EXPECT_TRUE(clock.hasLocked);
    EXPECT_NEAR(*clock.speed(), 1.0, 1e-6);
    EXPECT_EQ(clock.rate, FrameRate::fps29_97ND);
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
  EXPECT_EQ(clock.snapshot().state(last + 0.6), State::acquiring);
}

// Reverse play told as such runs the line backwards from the newest frame, through midnight too, and the
// forward code after it starts a new acquisition at once. Reverse play not told as such never locks.
TEST(TimecodeClock, ReverseFramesRunTheLineBackwardsAndUntoldReversePlayNeverLocks) {
  TimecodeClock clock;
  const double last = feed(clock, FrameRate::fps25, 1.0, kStart, 20);  // locked on frames 1 ... 20
  clock.observeReverse(0, last + 0.04, FrameRate::fps25);
  clock.observeReverse(2159999, last + 0.08, FrameRate::fps25);  // 23:59:59:24, a frame before midnight
  const ClockSnapshot snap = clock.snapshot();
  EXPECT_EQ(snap.slope, -25.0);
  EXPECT_NEAR(*snap.position(last + 0.12), -2.0, 1e-9);
  EXPECT_FALSE(snap.hasLocked) << "no forward freewheel once reverse play began";
  clock.observe(5, last + 0.16, FrameRate::fps25);
  EXPECT_EQ(clock.points.size(), 1u);
  EXPECT_EQ(clock.fit->slope, 25.0);
  EXPECT_EQ(clock.jumps + clock.rejected + clock.dropouts, 0);

  TimecodeClock untold;
  for (int i = 0; i < 50; ++i) {
    untold.observe(5000 - i, kStart + i * 0.04, FrameRate::fps25);
    ASSERT_FALSE(untold.hasLocked);
  }
  EXPECT_EQ(untold.dropouts, 3);  // restarts at 0.52, 1.04 and 1.56 s
  EXPECT_EQ(untold.jumps, 0);
}

// The clock is observed on the audio input and MIDI receive threads and read on the render and sender
// threads, the generator's snapshot on the latter too; none of that may touch the heap.
TEST(RealtimeAllocations, ObserveAndSnapshotReadsStayOffTheHeapWithAFullWindow) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  Locked<TimecodeClock> clock;
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "10:00:00:00", 0.0);
  generator.start(1000.0);
  double sink = 0.0;
  std::size_t mostPoints = 0;
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    // Three seconds of MTC quarter frames at 30 fps (121 points in the window), with a confirmed jump at
    // 2 s and a dropout at 2.5 s, then an input reset: every path that refills the window.
    for (int k = 0; k < 360; ++k) {
      const double position = 108000.0 + 0.25 * k + (k >= 240 ? 500.0 : 0.0);
      const double at = 1000.0 + k / 120.0 + (k >= 300 ? 0.6 : 0.0);
      const ClockSnapshot snap = clock.withLock([&](TimecodeClock& c) {
        c.observe(position, at, FrameRate::fps30);
        mostPoints = std::max(mostPoints, c.points.size());
        sink += c.speed().value_or(0.0);
        return c.snapshot();
      });
      sink += snap.position(at + 0.01).value_or(0.0) + static_cast<double>(snap.state(at));
      sink += generator.snapshot(at).position(at).value_or(0.0);
    }
    clock.withLock([](TimecodeClock& c) { c.resetInput(); });
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
  EXPECT_GE(mostPoints, 120u);
  EXPECT_GT(sink, 0.0);
}

}  // namespace
}  // namespace quillmark
