#include "core/generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "core/timecode.h"

namespace quillmark {
namespace {

using State = TimecodeClock::State;

TEST(Generator, ParkedGeneratorShowsItsPositionButGivesReadersNothing) {
  const Generator parked = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", 7.0);
  EXPECT_EQ(parked.position, 90000.0);
  EXPECT_EQ(parked.startedAt, 7.0);
  EXPECT_FALSE(parked.isRunning);
  const ClockSnapshot snap = parked.snapshot(8.0);
  EXPECT_EQ(snap.parkedPosition, 90000.0);
  EXPECT_FALSE(snap.position(8.0).has_value());
  EXPECT_EQ(snap.state(8.0), State::stopped);

  // Start texts: unparsable falls back to 01:00:00:00, an invalid label is taken as counted, and absurd
  // fields fold into one day instead of leaving a count no double can step.
  EXPECT_EQ(Generator::fromSettings(FrameRate::fps30, false, "1:2", 0).position, 108000.0);
  EXPECT_EQ(Generator::fromSettings(FrameRate::fps25, false, "00:00:00:27", 0).position, 27.0);
  EXPECT_EQ(Generator::fromSettings(FrameRate::fps25, false, "25:00:00:00", 0).position, 90000.0);
  const Generator absurd = Generator::fromSettings(FrameRate::fps25, false, "9999999999999:00:00:00", 0);
  EXPECT_GE(absurd.position, 0.0);
  EXPECT_LT(absurd.position, 2160000.0);
  EXPECT_EQ(Generator::fromSettings(FrameRate::fps25, false, "99999999999999999:0:0:0", 0).position, 90000.0);
}

TEST(Generator, StartsStopsAndContinuesFromWhereItParked) {
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", 0.0);
  generator.start(100.0);
  generator.start(101.0);  // already running: changes nothing
  ClockSnapshot snap = generator.snapshot(102.0);
  EXPECT_EQ(snap.fitPosition, 90050.0);
  EXPECT_EQ(snap.slope, 25.0);
  EXPECT_EQ(snap.state(102.0), State::locked);
  EXPECT_FALSE(snap.parkedPosition.has_value());
  EXPECT_DOUBLE_EQ(*snap.position(102.05), 90051.25);
  // A running snapshot is good for the reading window only; readers take a fresh one.
  EXPECT_FALSE(snap.position(102.2).has_value());

  generator.stop(102.0);
  EXPECT_EQ(generator.position, 90050.0);
  generator.start(110.0);
  EXPECT_EQ(generator.snapshot(111.0).fitPosition, 90075.0);
}

TEST(Generator, LocateMovesAtOnceAndRefusesLabelsThatDoNotExist) {
  Generator generator = Generator::fromSettings(FrameRate::fps29_97DF, false, "01:00:00;00", 0.0);
  generator.start(10.0);
  EXPECT_TRUE(generator.locate("00:10:00;00", FrameRate::fps29_97DF, 20.0));
  EXPECT_EQ(generator.snapshot(20.0).fitPosition, 17982.0);
  EXPECT_TRUE(generator.isRunning);

  EXPECT_FALSE(generator.locate("00:01:00;00", FrameRate::fps29_97DF, 21.0));  // dropped label
  EXPECT_FALSE(generator.locate("00:00:00:30", FrameRate::fps29_97DF, 21.0));
  EXPECT_FALSE(generator.locate("later", FrameRate::fps29_97DF, 21.0));
  EXPECT_EQ(generator.startedAt, 20.0);

  generator.stop(20.0);
  EXPECT_TRUE(generator.locate("2:0:0:0", FrameRate::fps29_97DF, 30.0));
  EXPECT_EQ(generator.snapshot(31.0).parkedPosition,
            (Timecode{2, 0, 0, 0}.frameNumber(FrameRate::fps29_97DF)));
}

TEST(Generator, RateChangeKeepsTheShownLabel) {
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", 0.0);
  generator.changeRate(FrameRate::fps30, 5.0);
  EXPECT_EQ(generator.position, 108000.0);
  EXPECT_EQ(generator.rate, FrameRate::fps30);

  // Running, part-way into a frame: the whole frame shown is kept and counted at the new rate.
  generator = Generator::fromSettings(FrameRate::fps29_97DF, false, "00:10:00;00", 0.0);
  generator.start(0.0);
  generator.changeRate(FrameRate::fps30, 0.5 / (30000.0 / 1001.0));
  EXPECT_EQ(generator.position, 18000.0);
  EXPECT_EQ(generator.startedAt, 0.5 / (30000.0 / 1001.0));
  EXPECT_TRUE(generator.isRunning);
}

// Time of day under a fixed zone with daylight-saving rules (central Europe: CET, CEST from the last
// Sunday of March 02:00 to the last Sunday of October 03:00), written as a POSIX rule so that the test
// does not depend on the installed zone database.
class GeneratorTimeOfDay : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    Generator::setWallClockSource(nullptr);
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Seconds since 1970 of a UTC instant.
  static double utc(int year, int month, int day, int hour, int minute, double second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    return static_cast<double>(timegm(&fields)) + second;
  }

  // The position `at` host seconds, with the wall clock at `wall` when the host clock read 500 s.
  static double at(double wall, FrameRate rate, double after = 0.0) {
    return Generator::timeOfDayPosition(500.0 + after, rate, {wall, 500.0});
  }

  static inline Generator::WallClockReading fixedReading{};

 private:
  std::optional<std::string> saved_;
};

TEST_F(GeneratorTimeOfDay, CountsTheLocalClockReadingAtEveryRate) {
  const double noon = utc(2024, 1, 15, 11, 0, 0);  // 12:00:00.000 CET
  EXPECT_EQ(at(noon, FrameRate::fps25), 1080000.0);
  EXPECT_EQ(at(noon, FrameRate::fps30), 1296000.0);
  EXPECT_DOUBLE_EQ(at(noon, FrameRate::fps29_97DF), 43200.0 * 30000.0 / 1001.0);
  EXPECT_DOUBLE_EQ(at(noon - 2.0, FrameRate::fps25, 2.5), 1080012.5);  // host time placed on the wall clock

  // Local midnight restarts the count.
  EXPECT_NEAR(at(utc(2024, 1, 15, 22, 59, 59.96), FrameRate::fps25), 2159999.0, 1e-6);
  EXPECT_EQ(at(utc(2024, 1, 15, 23, 0, 0), FrameRate::fps25), 0.0);
}

TEST_F(GeneratorTimeOfDay, FollowsTheWallClockOnTheDaysDaylightSavingTimeBeginsAndEnds) {
  // 31 March 2024: 02:00 CET becomes 03:00 CEST at 01:00 UTC.
  EXPECT_DOUBLE_EQ(at(utc(2024, 3, 31, 0, 59, 59.5), FrameRate::fps25), 7199.5 * 25.0);
  EXPECT_EQ(at(utc(2024, 3, 31, 1, 0, 0), FrameRate::fps25), 10800.0 * 25.0);
  // Noon that day shows 12:00:00:00 like the clock on the wall, not the 11 hours since midnight.
  const double noon = at(utc(2024, 3, 31, 10, 0, 0), FrameRate::fps25);
  EXPECT_EQ(Timecode::fromFrame(static_cast<std::int64_t>(noon), FrameRate::fps25), (Timecode{12, 0, 0, 0}));
  // 27 October 2024: 03:00 CEST becomes 02:00 CET at 01:00 UTC, so 02:30 comes round twice.
  EXPECT_EQ(at(utc(2024, 10, 27, 0, 30, 0), FrameRate::fps25), 9000.0 * 25.0);
  EXPECT_EQ(at(utc(2024, 10, 27, 1, 30, 0), FrameRate::fps25), 9000.0 * 25.0);
  EXPECT_EQ(at(utc(2024, 10, 27, 22, 0, 0), FrameRate::fps25), 82800.0 * 25.0);  // 23:00 CET
}

TEST_F(GeneratorTimeOfDay, SnapshotRunsFromTheWallClockEvenWhenNotStarted) {
  fixedReading = {utc(2024, 3, 31, 10, 0, 0), 500.0};
  Generator::setWallClockSource([]() noexcept { return fixedReading; });

  Generator generator = Generator::fromSettings(FrameRate::fps30, true, "01:00:00:00", 0.0);
  ASSERT_FALSE(generator.isRunning);
  const ClockSnapshot snap = generator.snapshot(501.0);
  EXPECT_EQ(snap.state(501.0), State::locked);
  EXPECT_EQ(snap.fitPosition, 43201.0 * 30.0);
  EXPECT_EQ(snap.lastInput, 501.0);
  EXPECT_FALSE(snap.parkedPosition.has_value());

  // Stopping while the wall clock drives it parks at the time of day; leaving the mode shows that.
  generator.start(501.0);
  generator.stop(502.0);
  generator.timeOfDay = false;
  EXPECT_EQ(generator.snapshot(503.0).parkedPosition, 43202.0 * 30.0);
}

}  // namespace
}  // namespace quillmark
