// Every road through the engine, for real, on an isolated JACK server; the test's own clients stand for
// the tape machine, the desk and the recorder. Timing is judged on stretches without xruns.

#include "core/engine/timecode_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>

#include "audio/audio_device.h"
#include "core/host_time.h"
#include "tests/engine/jack_world.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

void pause(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::optional<AudioDevice> deviceNamed(AudioDevice::Scope scope, const std::string& clientName) {
  for (const AudioDevice& device : AudioDevice::all(scope)) {
    if (device.uid == clientName) return device;
  }
  return std::nullopt;
}

bool isFullFrame(const std::vector<std::uint8_t>& bytes) {
  return !bytes.empty() && bytes[0] == 0xF0;
}

class TimecodeEngineRoads : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = test::JackServer::start(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    engine_ = std::make_unique<TimecodeEngine>();
    probe_ = test::openTestClient("probe");
    ASSERT_NE(probe_, nullptr);
    // JACK tells every active client of every xrun in the graph, so the probe counts them all.
    jack_set_xrun_callback(
        probe_,
        [](void* count) {
          static_cast<std::atomic<int>*>(count)->fetch_add(1);
          return 0;
        },
        &xruns_);
    ASSERT_EQ(jack_activate(probe_), 0);
  }
  void TearDown() override {
    engine_.reset();
    jack_client_close(probe_);
  }

  void selectSource(SourceKind kind, std::optional<FrameRate> forced = std::nullopt) {
    engine_->source.withLock([&](SourceKind& s) { s = kind; });
    engine_->rateOverride.withLock([&](std::optional<FrameRate>& r) { r = forced; });
    engine_->resetInput();
  }
  void listenTo(const test::LTCPlayer& player) {
    const auto device = deviceNamed(AudioDevice::Scope::input, player.clientName());
    ASSERT_TRUE(device);
    engine_->ltcInput.start(*device, 0);
    engine_->resetInput();  // as the store does once the input has started
  }
  void playInto(const test::AudioRecorder& recorder) {
    const auto device = deviceNamed(AudioDevice::Scope::output, recorder.clientName());
    ASSERT_TRUE(device);
    engine_->ltcOutput.start(*device, LTCOutput::Channels{0, 1});
  }
  void publishTo(const test::MIDIRecorder& recorder) {
    const std::string source = test::findPort(probe_, "^Quillmark:Virtual out$", JACK_DEFAULT_MIDI_TYPE, 0);
    ASSERT_FALSE(source.empty());
    ASSERT_TRUE(test::connectPorts(probe_, source, recorder.port()));
    engine_->mtcOutput().start(engine_->ports->virtualSource());
  }
  bool waitForLock(double seconds) {
    return test::waitFor(
        [&] {
          const double now = HostTime::now();
          return engine_->snapshot(now).state(now) == TimecodeClock::State::locked;
        },
        seconds);
  }

  // Runs `run` until one run had no xrun in the stretch it judges, at most three times; true when one had
  // none. An xrun drops a cycle of a player or recorder, which changes the speed of what it plays or the
  // times of what it hears: such a run proves nothing either way, so only the last run is judged. `run`
  // gets a function to call where its judged stretch begins (by default: where it begins), so that the
  // xrun JACK may report as clients activate does not count.
  template <typename Run>
  bool runWithoutXruns(const char* what, Run run) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      int before = xruns_.load();
      run([&] { before = xruns_.load(); });
      const int during = xruns_.load() - before;
      if (during == 0) return true;
      std::printf("[ measure ] %s: %d xruns during run %d, run again\n", what, during, attempt + 1);
    }
    return false;
  }

  static inline std::unique_ptr<test::JackServer> server_;
  std::unique_ptr<TimecodeEngine> engine_;
  jack_client_t* probe_ = nullptr;
  std::atomic<int> xruns_{0};  // every xrun of the server since SetUp
};

TEST_F(TimecodeEngineRoads, CarriesLTCInToMTCOut) {
  test::LTCPlayer player(FrameRate::fps25, 900000.0, 25.0);  // 10:00:00:00
  test::MIDIRecorder desk;
  selectSource(SourceKind::mtc);
  listenTo(player);
  publishTo(desk);

  // Code of a source that is not selected changes nothing, not even the counters.
  pause(0.5);
  EXPECT_EQ(engine_->counters.read(), TimecodeEngine::Counters{});
  EXPECT_FALSE(engine_->lastReceived.read());
  EXPECT_FALSE(engine_->snapshot(HostTime::now()).lastInput);
  EXPECT_TRUE(desk.messages().empty());

  selectSource(SourceKind::ltc);
  // Lock time, on the code's own time stamps: from the first frame taken to the observation that locked.
  std::optional<double> firstFrame, lockedAt;
  ASSERT_TRUE(test::waitFor(
      [&] {
        if (!firstFrame) {
          if (const auto last = engine_->lastReceived.read()) firstFrame = last->time;
        }
        const auto [locked, newest] = engine_->clock.withLock([](const TimecodeClock& c) {
          return std::pair{c.hasLocked, c.points.empty() ? 0.0 : c.points.back().time};
        });
        if (locked && firstFrame) lockedAt = newest;
        return lockedAt.has_value();
      },
      5.0));
  std::printf("[ measure ] LTC lock after %.3f s of code\n", *lockedAt - *firstFrame);
  EXPECT_LE(*lockedAt - *firstFrame, 0.5);

  // The clock's position against the played code, at the same host time, over xrun-free stretches.
  int judged = 0;
  double worst = 0;
  for (int attempt = 0; attempt < 40 && judged < 10; ++attempt) {
    const int xruns = player.xruns();
    pause(0.05);
    const double now = HostTime::now();
    const auto position = engine_->snapshot(now).position(now);
    ASSERT_TRUE(position);
    const double error = std::abs(*position - player.positionAt(now)) / 25.0;
    if (player.xruns() != xruns) continue;
    worst = std::max(worst, error);
    ++judged;
  }
  std::printf("[ measure ] clock vs played code: worst %.3f ms over %d readings\n", worst * 1e3, judged);
  ASSERT_EQ(judged, 10) << "too many xruns to judge";
  EXPECT_LT(worst, 0.001);

  // MTC: a full frame first, then quarter frames whose sequences follow the code played.
  pause(1.0);
  const auto messages = desk.messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_TRUE(isFullFrame(messages.front().bytes));
  for (std::size_t i = 1; i < messages.size(); ++i) EXPECT_FALSE(isFullFrame(messages[i].bytes)) << i;
  int sequences = 0;
  for (const auto& [event, index] : desk.events()) {
    if (const auto* full = event.asFullFrame()) {
      EXPECT_NEAR(full->timecode.frameNumber(FrameRate::fps25), player.positionAt(full->time), 1.0);
    } else if (const auto* sequence = event.asSequence()) {
      ++sequences;
      EXPECT_EQ(sequence->rate, FrameRate::fps25);
      // Piece 0 goes out as its frame begins.
      EXPECT_NEAR(sequence->timecode.frameNumber(FrameRate::fps25),
                  player.positionAt(sequence->quarterTimes[0]), 0.1);
    }
  }
  EXPECT_GE(sequences, 20);
}

TEST_F(TimecodeEngineRoads, CarriesMTCInToLTCOut) {
  test::AudioRecorder recorder(6.0);
  test::MTCSender desk(FrameRate::fps30, 108000);  // 01:00:00:00
  const std::string destination = test::findPort(probe_, "^Quillmark:Virtual in$", JACK_DEFAULT_MIDI_TYPE, 0);
  ASSERT_TRUE(test::connectPorts(probe_, desk.port(), destination));
  selectSource(SourceKind::mtc);
  playInto(recorder);
  ASSERT_TRUE(waitForLock(5.0));
  pause(3.0);

  const auto frames = recorder.decode();
  ASSERT_GE(frames.size(), 40u);
  // Every frame: a lone word tens of frames off is what a phase cut between two buffers does to a reader.
  int judged = 0;
  for (const auto& frame : frames) {
    const double sent = desk.positionAt(frame.host);
    if (sent < 108000.0 + 30.0) continue;  // the first second belongs to acquisition
    ++judged;
    const double label = static_cast<double>(frame.frame.timecode.frameNumber(FrameRate::fps30));
    EXPECT_LE(std::abs(label - sent), 1.0)
        << frame.frame.timecode.description() << " decoded at " << frame.host << ", sent position " << sent;
  }
  EXPECT_GE(judged, 40);
}

TEST_F(TimecodeEngineRoads, DrivesBothOutputsFromTheGenerator) {
  test::AudioRecorder recorder(6.0);
  test::MIDIRecorder desk;
  engine_->generator.withLock([](Generator& g) {
    g = Generator::fromSettings(FrameRate::fps29_97DF, false, "01:00:00;00", HostTime::now());
    g.start(HostTime::now());
  });
  selectSource(SourceKind::generator);
  playInto(recorder);
  publishTo(desk);
  pause(3.0);

  const auto ltc = recorder.decode();
  std::vector<std::pair<std::int64_t, double>> mtc;  // frame of piece 0, and when it went out
  for (const auto& [event, index] : desk.events()) {
    if (const auto* sequence = event.asSequence()) {
      mtc.emplace_back(sequence->timecode.frameNumber(FrameRate::fps29_97DF), sequence->quarterTimes[0]);
    }
  }
  ASSERT_GE(ltc.size(), 40u);
  ASSERT_GE(mtc.size(), 20u);
  const double quarterFrame = 1.0 / (4.0 * realFramesPerSecond(FrameRate::fps29_97DF));
  int matched = 0;
  double worst = 0;
  int withoutFlag = 0;
  for (const auto& frame : ltc) {
    const std::int64_t label = frame.frame.timecode.frameNumber(FrameRate::fps29_97DF);
    if (!frame.frame.dropFrame) ++withoutFlag;
    for (const auto& [frameOfPiece0, sentAt] : mtc) {
      if (frameOfPiece0 != label) continue;
      ++matched;
      worst = std::max(worst, std::abs(frame.host - sentAt));
    }
  }
  std::printf("[ measure ] LTC vs MTC from the generator: worst %.3f ms over %d frames\n", worst * 1e3,
              matched);
  EXPECT_GE(matched, 20);
  EXPECT_LT(worst, quarterFrame);
  EXPECT_EQ(withoutFlag, 0);
}

TEST_F(TimecodeEngineRoads, DetectsTheRateOfIncomingLTC) {
  auto watchRate = [&](FrameRate expected) {
    std::optional<double> first, shown;
    test::waitFor(
        [&] {
          const auto last = engine_->lastReceived.read();
          if (!last) return false;
          if (!first) first = last->time;
          if (last->rate == expected) shown = last->time;
          return shown.has_value();
        },
        5.0);
    return (first && shown) ? std::optional<double>(*shown - *first) : std::nullopt;
  };
  {
    // 30 fps labels without the drop-frame flag at 30000/1001 frames per second: 29.97 ND.
    std::optional<double> after;
    ASSERT_TRUE(runWithoutXruns("29.97 ND", [&](auto startJudging) {
      test::LTCPlayer player(FrameRate::fps30, 0.0, 30000.0 / 1001.0);
      selectSource(SourceKind::ltc);
      listenTo(player);
      startJudging();
      after = watchRate(FrameRate::fps29_97ND);
      engine_->ltcInput.stop();
    })) << "an xrun in every run";
    ASSERT_TRUE(after);
    std::printf("[ measure ] 29.97 ND shown after %.3f s of code\n", *after);
    EXPECT_LE(*after, 1.0);
  }
  {
    bool shown = false;
    std::vector<FrameRate> rates;
    ASSERT_TRUE(runWithoutXruns("24", [&](auto startJudging) {
      test::LTCPlayer player(FrameRate::fps24, 0.0, 24.0);
      selectSource(SourceKind::ltc);
      listenTo(player);
      startJudging();
      rates.clear();
      shown = watchRate(FrameRate::fps24).has_value();
      if (shown) {
        pause(0.3);
        for (int i = 0; i < 20; ++i, pause(0.05)) rates.push_back(engine_->lastReceived.read()->rate);
      }
      engine_->ltcInput.stop();
    })) << "an xrun in every run";
    ASSERT_TRUE(shown);
    ASSERT_EQ(rates.size(), 20u);
    for (const FrameRate rate : rates) EXPECT_EQ(rate, FrameRate::fps24);
  }
  {
    // 24 fps code at 23.976 speed with 24 forced: counted and shown at 24, no pulldown rate.
    test::LTCPlayer player(FrameRate::fps24, 0.0, 24000.0 / 1001.0);
    selectSource(SourceKind::ltc, FrameRate::fps24);
    listenTo(player);
    ASSERT_TRUE(waitForLock(5.0));
    pause(1.5);
    EXPECT_EQ(engine_->lastReceived.read()->rate, FrameRate::fps24);
    EXPECT_EQ(engine_->clock.read().rate, FrameRate::fps24);
    EXPECT_EQ(engine_->detector.read().durationCount, 0);
    engine_->ltcInput.stop();
  }
}

TEST_F(TimecodeEngineRoads, FreewheelsThroughAShortCutAndFallsSilentAfterALongOne) {
  // What one run of the two cuts left behind, judged below once a run had no xrun.
  struct Cuts {
    double shortCut = 0, longCut = 0, back = 0;  // host times: the cuts and the code's return
    bool relockedAfterShortCut = false, relockedAfterLongCut = false;
    std::vector<test::MIDIRecorder::Message> messages;
    std::vector<test::AudioRecorder::Frame> frames;
  };
  Cuts cuts;
  ASSERT_TRUE(runWithoutXruns("cuts", [&](auto startJudging) {
    cuts = Cuts{};
    test::LTCPlayer player(FrameRate::fps25, 900000.0, 25.0);
    test::MIDIRecorder desk;
    test::AudioRecorder recorder(12.0);
    selectSource(SourceKind::ltc);
    listenTo(player);
    playInto(recorder);
    publishTo(desk);
    ASSERT_TRUE(waitForLock(5.0));
    pause(1.0);
    const std::string input =
        test::findPort(probe_, "^Quillmark LTC in.*:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
    ASSERT_FALSE(input.empty());

    // One second without code, freewheel 2 s: both outputs run on, and the clock locks again.
    startJudging();
    cuts.shortCut = HostTime::now();
    ASSERT_TRUE(test::disconnectPorts(probe_, player.port(), input));
    pause(1.0);
    ASSERT_TRUE(test::connectPorts(probe_, player.port(), input));
    cuts.relockedAfterShortCut = waitForLock(2.0);
    pause(1.0);

    // Three seconds without code: silence after the freewheel, then a full frame when code returns.
    cuts.longCut = HostTime::now();
    ASSERT_TRUE(test::disconnectPorts(probe_, player.port(), input));
    pause(3.0);
    cuts.back = HostTime::now();
    ASSERT_TRUE(test::connectPorts(probe_, player.port(), input));
    cuts.relockedAfterLongCut = waitForLock(2.0);
    pause(0.5);
    cuts.messages = desk.messages();
    cuts.frames = recorder.decode();
    engine_->ltcInput.stop();
    engine_->ltcOutput.stop();
    engine_->mtcOutput().stop();
  })) << "an xrun in every run";
  if (HasFatalFailure()) return;
  EXPECT_TRUE(cuts.relockedAfterShortCut);
  EXPECT_TRUE(cuts.relockedAfterLongCut);
  const double shortCut = cuts.shortCut, longCut = cuts.longCut, back = cuts.back;

  const auto& messages = cuts.messages;
  double widestGapInShortCut = 0;
  std::optional<std::size_t> firstAfterSilence;
  for (std::size_t i = 1; i < messages.size(); ++i) {
    const double gap = messages[i].host - messages[i - 1].host;
    if (messages[i].host > shortCut && messages[i].host < longCut)
      widestGapInShortCut = std::max(widestGapInShortCut, gap);
    if (!firstAfterSilence && messages[i].host > longCut && gap > 0.5) firstAfterSilence = i;
  }
  EXPECT_LT(widestGapInShortCut, 0.05) << "MTC stopped during a cut shorter than the freewheel";
  for (std::size_t i = 1; i < messages.size() && messages[i].host < longCut; ++i) {
    EXPECT_FALSE(isFullFrame(messages[i].bytes)) << "a full frame at " << messages[i].host - shortCut;
  }
  ASSERT_TRUE(firstAfterSilence) << "MTC never fell silent during a cut longer than the freewheel";
  EXPECT_GT(messages[*firstAfterSilence - 1].host, longCut + 1.9);  // ran on through the freewheel
  EXPECT_GE(messages[*firstAfterSilence].host, back - 0.05);
  EXPECT_TRUE(isFullFrame(messages[*firstAfterSilence].bytes));

  const auto& frames = cuts.frames;
  double widestLTCGapInShortCut = 0;
  bool ltcDuringSilence = false;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    if (frames[i].host > shortCut && frames[i].host < longCut) {
      widestLTCGapInShortCut = std::max(widestLTCGapInShortCut, frames[i].host - frames[i - 1].host);
    }
    if (frames[i].host > longCut + 2.6 && frames[i].host < back) ltcDuringSilence = true;
  }
  EXPECT_LT(widestLTCGapInShortCut, 0.1) << "LTC stopped during a cut shorter than the freewheel";
  EXPECT_FALSE(ltcDuringSilence) << "LTC went on after the freewheel ran out";
}

TEST_F(TimecodeEngineRoads, GivesTheOutputsTheIdleSnapshotOnceTheEngineIsGone) {
  engine_->generator.withLock([](Generator& g) { g.start(HostTime::now()); });
  selectSource(SourceKind::generator);
  const auto clock = engine_->clockFunction();
  ASSERT_TRUE(clock().position(HostTime::now()));
  engine_.reset();
  EXPECT_EQ(clock(), TimecodeEngineCore::idleSnapshot());
}

}  // namespace
}  // namespace quillmark
