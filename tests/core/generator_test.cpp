#include "core/generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "core/timecode.h"

namespace quillmark {
namespace {

using State = TimecodeClock::State;

TEST(Generator, ParkedGeneratorShowsItsPositionButGivesReadersNothingAndContinuesFromThereWhenStarted) {
  const ClockSnapshot snap =
      Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", 7.0).snapshot(8.0);
  EXPECT_EQ(snap.parkedPosition, 90000.0);
  EXPECT_FALSE(snap.position(8.0).has_value());
  EXPECT_EQ(snap.state(8.0), State::stopped);

  // Unparsable falls back to 01:00:00:00, an invalid label counts on as it is, and absurd fields fold into
  // one day (or fall back when they saturate) instead of leaving a count no double can step.
  auto start = [](FrameRate rate, const char* text) {
    return Generator::fromSettings(rate, false, text, 0).position;
  };
  EXPECT_EQ(start(FrameRate::fps30, "1:2"), 108000.0);
  EXPECT_EQ(start(FrameRate::fps25, "00:00:00:27"), 27.0);
  EXPECT_LT(start(FrameRate::fps25, "9999999999999:00:00:00"), 2160000.0);
  EXPECT_EQ(start(FrameRate::fps25, "99999999999999999:0:0:0"), 90000.0);

  // Started, stopped, and started again it continues from where it parked.
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", 0.0);
  generator.start(100.0);
  generator.start(101.0);  // already running: changes nothing
  const ClockSnapshot running = generator.snapshot(102.0);
  EXPECT_EQ(running.fitPosition, 90050.0);
  EXPECT_EQ(running.state(102.0), State::locked);
  EXPECT_FALSE(running.position(102.2).has_value());  // good for one reading window; readers take fresh ones
  generator.stop(102.0);
  generator.start(110.0);
  EXPECT_EQ(generator.snapshot(111.0).fitPosition, 90075.0);
}

TEST(Generator, LocateAndRateChangeKeepTheLabelTheUserMeans) {
  Generator generator = Generator::fromSettings(FrameRate::fps29_97DF, false, "01:00:00;00", 0.0);
  generator.start(10.0);
  EXPECT_TRUE(generator.locate("00:10:00;00", FrameRate::fps29_97DF, 20.0));
  EXPECT_EQ(generator.snapshot(20.0).fitPosition, 17982.0);  // continues from there at once
  for (const char* refused : {"00:01:00;00", "00:00:00:30", "later"}) {
    EXPECT_FALSE(generator.locate(refused, FrameRate::fps29_97DF, 21.0)) << refused;
  }
  EXPECT_EQ(generator.startedAt, 20.0);
  // Half a frame into 00:10:00;00, re-rated to 30: the whole frame shown is kept.
  generator.changeRate(FrameRate::fps30, 20.0 + 0.5 * 1001.0 / 30000.0);
  EXPECT_EQ(generator.position, 18000.0);
  EXPECT_TRUE(generator.isRunning);
}

// Central European rules (CET, CEST from the last Sunday of March 02:00 to the last Sunday of October
// 03:00) as a POSIX rule, so the test does not depend on the installed zone database. Each test runs in a
// process of its own under CTest, so TZ is not restored.
class GeneratorTimeOfDay : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override { Generator::setWallClockSource(nullptr); }
  // Position at host time 500 + `after`, the wall clock reading `year-month-day hour:minute:second` UTC
  // when the host clock read 500.
  static double at(FrameRate rate, int year, int month, int day, int hour, int minute, double second,
                   double after = 0.0) {
    std::tm fields{0, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
    const double wall = static_cast<double>(timegm(&fields)) + second;
    return Generator::timeOfDayPosition(500.0 + after, rate, {wall, 500.0});
  }
  static Generator::WallClockReading noon() noexcept {
    return {1705316400.0, 500.0};
  }  // 2024-01-15 11:00 UTC
};

TEST_F(GeneratorTimeOfDay, CountsTheLocalClockReadingAndRunsWithoutBeingStarted) {
  EXPECT_EQ(at(FrameRate::fps25, 2024, 1, 15, 11, 0, 0), 1080000.0);  // 12:00:00.000 CET
  EXPECT_DOUBLE_EQ(at(FrameRate::fps25, 2024, 1, 15, 10, 59, 58, 2.5), 1080012.5);
  EXPECT_NEAR(at(FrameRate::fps25, 2024, 1, 15, 22, 59, 59.96), 2159999.0, 1e-6);
  EXPECT_EQ(at(FrameRate::fps25, 2024, 1, 15, 23, 0, 0), 0.0);  // local midnight

  Generator::setWallClockSource(&noon);
  Generator generator = Generator::fromSettings(FrameRate::fps30, true, "01:00:00:00", 0.0);
  EXPECT_EQ(generator.snapshot(501.0).state(501.0), State::locked);
  EXPECT_EQ(generator.snapshot(501.0).fitPosition, 43201.0 * 30.0);
  generator.start(501.0);
  generator.stop(502.0);  // parks at the time of day, shown once the mode is left
  generator.timeOfDay = false;
  EXPECT_EQ(generator.snapshot(503.0).parkedPosition, 43202.0 * 30.0);
}

TEST_F(GeneratorTimeOfDay, FollowsTheWallClockOnTheDaysDaylightSavingTimeBeginsAndEnds) {
  // 31 March 2024: 02:00 CET becomes 03:00 CEST at 01:00 UTC; the count follows the clock on the wall,
  // not the hours elapsed since midnight.
  EXPECT_DOUBLE_EQ(at(FrameRate::fps25, 2024, 3, 31, 0, 59, 59.5), 7199.5 * 25.0);
  EXPECT_EQ(at(FrameRate::fps25, 2024, 3, 31, 1, 0, 0), 10800.0 * 25.0);
  // 27 October 2024: 03:00 CEST becomes 02:00 CET at 01:00 UTC, so 02:30 comes round twice.
  EXPECT_EQ(at(FrameRate::fps25, 2024, 10, 27, 0, 30, 0), 9000.0 * 25.0);
  EXPECT_EQ(at(FrameRate::fps25, 2024, 10, 27, 1, 30, 0), 9000.0 * 25.0);
  EXPECT_EQ(at(FrameRate::fps25, 2024, 10, 27, 22, 0, 0), 82800.0 * 25.0);  // 23:00 CET
}

}  // namespace
}  // namespace quillmark
