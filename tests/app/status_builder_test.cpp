// The status refresh's two pure halves, driven with made-up host times through a real engine core: what
// each refresh shows, and which event-log lines the changes between refreshes give.

#include "app/status_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr double kT0 = 500.0;
constexpr double kTick = 1.0 / 30.0;
constexpr double kFrame = 1.0 / 25.0;

// An engine core and the refresh's memory, stepped tick by tick while LTC frames arrive on their own clock.
struct Refresher {
  explicit Refresher(SourceKind source = SourceKind::ltc) {
    settings.inputRate = FrameRate::fps25;
    engine.rateOverride.store(settings.inputRate);
    setSource(source);
  }
  // Delivers consecutive 25 fps frames from `firstFrame` until host time `until`, refreshing at every
  // tick on the way; then refreshes with no input until `quietUntil`.
  void run(std::int64_t firstFrame, double until, double quietUntil) {
    for (nextFrameAt = now; now < quietUntil; tick()) {
      for (; nextFrameAt <= now && nextFrameAt < until; nextFrameAt += kFrame) {
        LTCFrame ltc;
        ltc.timecode = Timecode::fromFrame(firstFrame++, FrameRate::fps25);
        engine.receiveLTC(ltc, nextFrameAt, kFrame, false);
      }
    }
  }
  void tick() {
    last = buildStatus(engine, settings, now, InputStats{});
    for (std::string& line : transitions.next(last, settings.source)) lines.push_back(std::move(line));
    now += kTick;
  }
  void setSource(SourceKind source) {
    settings.source = source;
    engine.source.store(source);
  }
  void setGenerator(const char* start) {
    engine.generator.withLock(
        [&](Generator& g) { g = Generator::fromSettings(FrameRate::fps25, false, start, now); });
  }

  TimecodeEngineCore engine;
  StatusTransitions transitions;
  std::vector<std::string> lines;
  Status last;
  Settings settings;
  double now = kT0, nextFrameAt = kT0;
};

TEST(StatusRefresh, InputThatNeverLocksShowsOnlyItsStatsAndLogsNothing) {
  TimecodeEngineCore engine;
  StatusTransitions transitions;
  Status expected;
  expected.level = 0.25f;
  expected.errors = 7;
  for (int i = 0; i < 60; ++i) {
    const Status status = buildStatus(engine, Settings{}, kT0 + i * kTick, InputStats{0.25f, 7});
    EXPECT_TRUE(transitions.next(status, SourceKind::ltc).empty());
    ASSERT_EQ(status, expected) << "tick " << i;
  }
  Refresher r;  // three frames, not enough to lock
  r.run(90000, kT0 + 3 * kFrame, kT0 + 4.0);
  EXPECT_THAT(r.lines, IsEmpty());
  EXPECT_EQ(r.last.state, TimecodeClock::State::stopped);
}

// The refresh's only reads of what the receiving and output threads lock are the copies of readEngine:
// plain values (EngineReading is trivially copyable), and none of them allocates, however full the clock's
// window or however long the MIDI source's name, so no lock is held for an allocation.
TEST(StatusRefresh, ReadsTheEngineUnderItsLocksWithoutAllocating) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  Refresher r(SourceKind::mtc);
  const std::string longName(300, 'm');  // beyond any small-string buffer
  for (int i = 0; i < 40; ++i, r.now += kFrame) {
    r.engine.receiveMTC(MTCDecoder::Event::fullFrame(Timecode::fromFrame(90000 + i, FrameRate::fps25),
                                                     FrameRate::fps25, r.now),
                        longName);
  }
  std::vector<EngineReading> readings(kAllSourceKinds.size());
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    for (std::size_t i = 0; i < kAllSourceKinds.size(); ++i) {
      r.engine.source.store(kAllSourceKinds[i]);
      readings[i] = readEngine(r.engine, r.now);
    }
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
  const ReceptionStats& stats = readings.front().stats;
  EXPECT_EQ(stats.counters.fullFrames, 40);
  EXPECT_EQ(stats.counters.mtcSource.view(), longName);
  EXPECT_NEAR(stats.measuredRate.value_or(0.0), 25.0, 1e-6) << "the clock's measurements come with the stats";
}

TEST(StatusRefresh, LockPulledCableFreewheelAndStopGiveTheirLinesInOrder) {
  Refresher r;
  // Two seconds of code from 01:00:00:00 (the last frame is 01:00:01:24), then silence past the 2 s
  // freewheel.
  r.run(90000, kT0 + 2.0 - 1e-9, kT0 + 5.0);
  EXPECT_THAT(r.lines, ElementsAre(AllOf(StartsWith("Locked at 01:00:00:"), EndsWith(", 25 fps")),
                                   AllOf(StartsWith("Input lost at 01:00:0"), EndsWith(": freewheeling")),
                                   "Stopped at 01:00:01:24"));
  // The display then shows the last frame received, standing still.
  EXPECT_EQ(r.last.state, TimecodeClock::State::stopped);
  EXPECT_TRUE(r.last.held);
  EXPECT_EQ(r.last.timecode, (Timecode{1, 0, 1, 24}));
  EXPECT_EQ(r.last.rate, FrameRate::fps25);
  EXPECT_EQ(r.last.framesIn, 50);
}

TEST(StatusRefresh, JumpIsLoggedBeforeTheNewLock) {
  Refresher r;
  r.run(90000, kT0 + 1.0, kT0 + 1.0);          // locked on 01:00:00:xx, still running
  r.run(2 * 90000, r.now + 2.0, r.now + 2.0);  // the code now reads 02:00:00:00 onwards
  EXPECT_THAT(r.lines, ElementsAre(StartsWith("Locked at 01:"), StartsWith("Jump to 02:00:00:"),
                                   StartsWith("Locked at 02:00:0")));
  EXPECT_EQ(r.last.jumps, 1);

  // A reset input brings the jump count down: the count follows without a line of its own (the input
  // reads as stopped now, which is logged as such).
  r.engine.resetInput();
  r.tick();
  EXPECT_EQ(r.transitions.lastJumps, 0);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_THAT(r.lines[3], StartsWith("Stopped at "));
}

TEST(StatusRefresh, GeneratorShowsItsTransportAndLeavingItLogsAStopOnlyWhenItRanAndRoundsToWholeFrames) {
  Refresher r(SourceKind::generator);
  r.setGenerator("01:00:00:00");
  r.tick();
  r.setSource(SourceKind::mtc);  // leaving a parked generator
  r.tick();
  EXPECT_THAT(r.lines, IsEmpty());

  r.setSource(SourceKind::generator);
  r.setGenerator("01:00:00:10");
  r.tick();
  EXPECT_TRUE(r.last.held && !r.last.generatorRunning);
  EXPECT_EQ(r.last.timecode, (Timecode{1, 0, 0, 10}));

  r.engine.generator.withLock([&](Generator& g) { g.start(r.now); });
  for (int i = 0; i < 30; ++i) r.tick();
  EXPECT_TRUE(r.last.generatorRunning && !r.last.held);

  // Stopped but following the time of day: running as far as the display is concerned.
  r.engine.generator.withLock([&](Generator& g) { g.stop(r.now); });
  r.settings.timeOfDay = true;
  r.tick();
  EXPECT_TRUE(r.last.generatorRunning);
  EXPECT_THAT(r.lines, IsEmpty());

  // Leaving a running generator for an input that receives nothing: a stop with no label.
  r.settings.timeOfDay = false;
  r.engine.generator.withLock([&](Generator& g) { g.start(r.now); });
  r.tick();
  r.setSource(SourceKind::ltc);
  r.tick();
  EXPECT_THAT(r.lines, ElementsAre("Stopped at "));

  // A position a rounding error short of a frame shows that frame; a non-finite one none.
  r.setSource(SourceKind::generator);
  r.engine.generator.withLock([&](Generator& g) {
    g.isRunning = true;
    g.position = 89999.9999995;
    g.startedAt = r.now;
  });
  r.tick();
  EXPECT_EQ(r.last.timecode, (Timecode{1, 0, 0, 0}));

  EXPECT_EQ(labelAt(89999.9999995, FrameRate::fps25), (Timecode{0, 59, 59, 24}));  // no rounding here
  for (double position : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300})
    EXPECT_FALSE(labelAt(position, FrameRate::fps25)) << position;
}

TEST(StatusRefresh, ArtNetCountsItsPacketsAndDamageAndLocksLikeTheOtherInputs) {
  Refresher r(SourceKind::artnet);
  for (int i = 0; i < 30; ++i) {
    r.engine.receiveArtNet({Timecode::fromFrame(90000 + i, FrameRate::fps25), FrameRate::fps25, 0}, r.now);
    r.tick();
    r.now += kFrame - kTick;  // one packet per frame
  }
  const Status status = buildStatus(r.engine, r.settings, r.now, InputStats{0.5f, 3});
  EXPECT_EQ(status.framesIn, 30);
  EXPECT_EQ(status.errors, 3);
  EXPECT_EQ(status.level, 0.0f) << "no level for a network input";
  EXPECT_THAT(r.lines, ElementsAre(StartsWith("Locked at 01:00:00:")));
}

TEST(StatusRefresh, ARateFoundOrChangedWhileLockedGetsALineOfItsOwn) {
  StatusTransitions transitions;
  Status status;
  status.state = TimecodeClock::State::locked;
  status.rate = FrameRate::fps30;
  status.timecode = Timecode{1, 0, 0, 8};
  EXPECT_THAT(transitions.next(status, SourceKind::ltc), ElementsAre("Locked at 01:00:00:08, 30 fps"));
  EXPECT_THAT(transitions.next(status, SourceKind::ltc), IsEmpty());
  status.rate = FrameRate::fps29_97ND;  // pulldown found half a second after the lock
  EXPECT_THAT(transitions.next(status, SourceKind::ltc), ElementsAre("Rate: 29.97 ND fps"));
  EXPECT_THAT(transitions.next(status, SourceKind::ltc), IsEmpty());
  // Lost and found again at another rate: the lock line says the rate, once, and a drop-frame label is
  // written with its separator.
  status.state = TimecodeClock::State::freewheel;
  EXPECT_THAT(transitions.next(status, SourceKind::ltc), ElementsAre(StartsWith("Input lost at ")));
  status.state = TimecodeClock::State::locked;
  status.rate = FrameRate::fps29_97DF;
  EXPECT_THAT(transitions.next(status, SourceKind::ltc), ElementsAre("Locked at 01:00:00;08, 29.97 DF fps"));
}

}  // namespace
}  // namespace quillmark
