// The status refresh's two pure halves, driven with made-up host times through a real engine core: what
// each refresh shows, and which event-log lines the changes between refreshes give.

#include "app/status_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace quillmark {
namespace {

constexpr double kT0 = 500.0;
constexpr double kTick = 1.0 / 30.0;
constexpr double kFrame = 1.0 / 25.0;

// An engine core and the refresh's memory, stepped tick by tick while LTC frames arrive on their own clock.
class Refresher {
 public:
  explicit Refresher(Settings settings = forced25()) : settings_(settings) {
    engine.source.withLock([&](SourceKind& s) { s = settings_.source; });
    engine.rateOverride.withLock([&](std::optional<FrameRate>& r) { r = settings_.inputRate; });
  }

  static Settings forced25() {
    Settings s;
    s.inputRate = FrameRate::fps25;
    return s;
  }

  // Delivers consecutive 25 fps frames from `firstFrame` until host time `until`, refreshing at every
  // tick on the way; then refreshes with no input until `quietUntil`.
  void run(std::int64_t firstFrame, double until, double quietUntil) {
    std::int64_t frame = firstFrame;
    while (now_ < quietUntil) {
      while (nextFrameAt_ <= now_ && nextFrameAt_ < until) {
        LTCFrame ltc;
        ltc.timecode = Timecode::fromFrame(frame++, FrameRate::fps25);
        engine.receiveLTC(ltc, nextFrameAt_, kFrame, false);
        nextFrameAt_ += kFrame;
      }
      tick();
    }
    nextFrameAt_ = now_;
  }

  void tick() {
    last = buildStatus(engine, settings_, now_, InputStats{});
    for (std::string& line : transitions.next(last, settings_.source)) lines.push_back(std::move(line));
    now_ += kTick;
  }

  void setSource(SourceKind source) {
    settings_.source = source;
    engine.source.withLock([&](SourceKind& s) { s = source; });
  }

  double now() const { return now_; }
  Settings& settings() { return settings_; }

  TimecodeEngineCore engine;
  StatusTransitions transitions;
  std::vector<std::string> lines;
  Status last;

 private:
  Settings settings_;
  double now_ = kT0;
  double nextFrameAt_ = kT0;
};

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}
bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(StatusRefresh, NoInputShowsNothingButTheInputStatsAndLogsNothing) {
  TimecodeEngineCore engine;
  StatusTransitions transitions;
  for (int i = 0; i < 60; ++i) {
    const Status status = buildStatus(engine, Settings{}, kT0 + i * kTick, InputStats{0.25f, 7});
    EXPECT_TRUE(transitions.next(status, SourceKind::ltc).empty());
    Status expected;
    expected.level = 0.25f;
    expected.errors = 7;
    ASSERT_EQ(status, expected) << "tick " << i;
  }
}

TEST(StatusRefresh, LockPulledCableFreewheelAndStopGiveTheirLinesInOrder) {
  Refresher r;
  // Two seconds of code from 01:00:00:00 (the last frame is 01:00:01:24), then silence past the 2 s
  // freewheel.
  r.run(90000, kT0 + 2.0 - 1e-9, kT0 + 5.0);
  ASSERT_EQ(r.lines.size(), 3u) << ::testing::PrintToString(r.lines);
  EXPECT_TRUE(startsWith(r.lines[0], "Locked at 01:00:00:")) << r.lines[0];
  EXPECT_TRUE(endsWith(r.lines[0], ", 25 fps")) << r.lines[0];
  EXPECT_TRUE(startsWith(r.lines[1], "Input lost at 01:00:0")) << r.lines[1];
  EXPECT_TRUE(endsWith(r.lines[1], ": freewheeling")) << r.lines[1];
  EXPECT_EQ(r.lines[2], "Stopped at 01:00:01:24");
  // The display then shows the last frame received, standing still.
  EXPECT_EQ(r.last.state, TimecodeClock::State::stopped);
  EXPECT_TRUE(r.last.held);
  EXPECT_EQ(r.last.timecode, (Timecode{1, 0, 1, 24}));
  EXPECT_EQ(r.last.rate, FrameRate::fps25);
  EXPECT_EQ(r.last.framesIn, 50);
}

TEST(StatusRefresh, InputThatStopsBeforeLockingLogsNothing) {
  Refresher r;
  r.run(90000, kT0 + 3 * kFrame, kT0 + 4.0);
  EXPECT_TRUE(r.lines.empty()) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.last.state, TimecodeClock::State::stopped);
}

TEST(StatusRefresh, JumpIsLoggedBeforeTheNewLock) {
  Refresher r;
  r.run(90000, kT0 + 1.0, kT0 + 1.0);  // locked on 01:00:00:xx, still running
  ASSERT_EQ(r.lines.size(), 1u);
  r.run(2 * 90000, r.now() + 2.0, r.now() + 2.0);  // the code now reads 02:00:00:00 onwards
  ASSERT_EQ(r.lines.size(), 3u) << ::testing::PrintToString(r.lines);
  EXPECT_TRUE(startsWith(r.lines[1], "Jump to 02:00:00:")) << r.lines[1];
  EXPECT_TRUE(startsWith(r.lines[2], "Locked at 02:00:0")) << r.lines[2];
  EXPECT_EQ(r.last.jumps, 1);

  // A reset input brings the jump count down: the count follows without a line of its own (the input
  // reads as stopped now, which is logged as such).
  r.engine.resetInput();
  r.tick();
  EXPECT_EQ(r.transitions.lastJumps, 0);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_TRUE(startsWith(r.lines[3], "Stopped at ")) << r.lines[3];
}

TEST(StatusRefresh, GeneratorShowsItsTransportAndNeverLogsTransitions) {
  Settings settings;
  settings.source = SourceKind::generator;
  Refresher r(settings);
  r.engine.generator.withLock(
      [&](Generator& g) { g = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:10", kT0); });
  r.tick();
  EXPECT_TRUE(r.last.held);
  EXPECT_FALSE(r.last.generatorRunning);
  EXPECT_EQ(r.last.timecode, (Timecode{1, 0, 0, 10}));
  EXPECT_EQ(r.last.rate, FrameRate::fps25);

  r.engine.generator.withLock([&](Generator& g) { g.start(r.now()); });
  for (int i = 0; i < 30; ++i) r.tick();
  EXPECT_TRUE(r.last.generatorRunning);
  EXPECT_FALSE(r.last.held);
  EXPECT_EQ(r.last.state, TimecodeClock::State::locked);

  // Stopped but following the time of day: running as far as the display is concerned.
  r.engine.generator.withLock([&](Generator& g) { g.stop(r.now()); });
  r.settings().timeOfDay = true;
  r.tick();
  EXPECT_TRUE(r.last.generatorRunning);
  EXPECT_TRUE(r.lines.empty()) << ::testing::PrintToString(r.lines);

  // Leaving a running generator for an input that receives nothing: a stop with no label.
  r.settings().timeOfDay = false;
  r.engine.generator.withLock([&](Generator& g) { g.start(r.now()); });
  r.tick();
  r.setSource(SourceKind::ltc);
  r.tick();
  EXPECT_EQ(r.lines, std::vector<std::string>{"Stopped at "});
}

TEST(StatusRefresh, LeavingAParkedGeneratorLogsNothing) {
  Settings settings;
  settings.source = SourceKind::generator;
  Refresher r(settings);
  r.engine.generator.withLock(
      [&](Generator& g) { g = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", kT0); });
  r.tick();
  r.setSource(SourceKind::mtc);
  r.tick();
  EXPECT_TRUE(r.lines.empty()) << ::testing::PrintToString(r.lines);
}

TEST(StatusRefresh, PositionsARoundingErrorShortOfAFrameShowThatFrame) {
  Settings settings;
  settings.source = SourceKind::generator;
  TimecodeEngineCore engine;
  engine.source.withLock([](SourceKind& s) { s = SourceKind::generator; });
  engine.generator.withLock([](Generator& g) {
    g.isRunning = true;
    g.position = 89999.9999995;
    g.startedAt = kT0;
  });
  EXPECT_EQ(buildStatus(engine, settings, kT0, {}).timecode, (Timecode{1, 0, 0, 0}));

  EXPECT_EQ(labelAt(89999.9999995, FrameRate::fps25), (Timecode{0, 59, 59, 24}));  // no rounding here
  EXPECT_FALSE(labelAt(std::numeric_limits<double>::quiet_NaN(), FrameRate::fps25));
  EXPECT_FALSE(labelAt(std::numeric_limits<double>::infinity(), FrameRate::fps25));
  EXPECT_FALSE(labelAt(1e300, FrameRate::fps25));
}

TEST(StatusRefresh, DropFrameLabelsAreWrittenWithTheirSeparator) {
  StatusTransitions transitions;
  Status status;
  status.state = TimecodeClock::State::locked;
  status.rate = FrameRate::fps29_97DF;
  status.timecode = Timecode{1, 0, 0, 2};
  const std::vector<std::string> lines = transitions.next(status, SourceKind::mtc);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Locked at " + (Timecode{1, 0, 0, 2}).text(true) + ", 29.97 DF fps");
  EXPECT_NE(lines[0], "Locked at 01:00:00:02, 29.97 DF fps");
}

}  // namespace
}  // namespace quillmark
