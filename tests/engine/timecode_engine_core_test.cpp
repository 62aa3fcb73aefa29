// The engine's reception logic, driven with made-up host times: no JACK, no sleeping.

#include "engine/timecode_engine_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "tests/ltc/ltc_signal.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

constexpr double kT0 = 1000.0;  // host seconds of the first frame in every run
const Timecode kOneHour{1, 0, 0, 0};

// Feeds `count` consecutive LTC frames from frame `first` labelled at `labelRate`, one every `period`
// seconds from `start`; returns the host time just after the last one.
double feedLTC(TimecodeEngineCore& engine, std::int64_t first, FrameRate labelRate, int count, double start,
               double period, std::uint32_t userBits = 0) {
  for (int i = 0; i < count; ++i) {
    LTCFrame frame{Timecode::fromFrame(first + i, labelRate)};
    frame.userBits = userBits;
    frame.dropFrame = isDropFrame(labelRate);
    engine.receiveLTC(frame, start + i * period, period, false);
  }
  return start + count * period;
}

MTCDecoder::Event sequence(Timecode timecode, double start, bool reverse = false) {
  std::array<double, 8> times{};
  for (std::size_t k = 0; k < 8; ++k) times[k] = start + 0.01 * static_cast<double>(k);
  return MTCDecoder::Event::sequence(timecode, FrameRate::fps25, times, reverse);
}

// Feeds `count` ArtTimeCode packets labelled at `labelRate` from frame `first`, one every `period` seconds.
double feedArtNet(TimecodeEngineCore& engine, std::int64_t first, FrameRate labelRate, int count,
                  double start, double period) {
  for (int i = 0; i < count; ++i)
    engine.receiveArtNet({Timecode::fromFrame(first + i, labelRate), labelRate, 0}, start + i * period);
  return start + count * period;
}

TEST(TimecodeEngineCore, DropsEverythingFromSourcesThatAreNotSelected) {
  TimecodeEngineCore engine;  // source ltc
  const auto fullFrame = MTCDecoder::Event::fullFrame(kOneHour, FrameRate::fps25, kT0);
  for (const SourceKind other : {SourceKind::mtc, SourceKind::artnet, SourceKind::generator}) {
    engine.source.store(other);
    feedLTC(engine, 90000, FrameRate::fps25, 5, kT0, 0.04);
    if (other != SourceKind::mtc) engine.receiveMTC(fullFrame, "Desk");
    if (other != SourceKind::artnet) feedArtNet(engine, 90000, FrameRate::fps25, 5, kT0, 0.04);
    EXPECT_EQ(engine.stats(), ReceptionStats{}) << "a dropped frame or event was counted or shown";
    EXPECT_TRUE(engine.clock.read().points.empty());
    EXPECT_EQ(engine.detector.read().durationCount, 0) << "a dropped frame must not teach the detector";
  }
  engine.source.store(SourceKind::ltc);
  engine.receiveMTC(fullFrame, "Desk");
  EXPECT_EQ(engine.stats(), ReceptionStats{}) << "MTC from a source that is not selected was taken";
  EXPECT_TRUE(engine.clock.read().points.empty());

  // With the generator selected the snapshot is the generator's, at the time asked for.
  engine.source.store(SourceKind::generator);
  engine.generator.withLock([](Generator& g) { g.start(kT0); });
  EXPECT_EQ(engine.snapshot(kT0 + 1.0), engine.generator.read().snapshot(kT0 + 1.0));
}

// A full frame is shown at the rate it was read with, while the clock keeps the rate it found.
TEST(TimecodeEngineCore, ShowsAFullFrameAtItsOwnRateAndTakesMTCFromEverySourceOrOnlyTheNamedOne) {
  TimecodeEngineCore engine;
  engine.source.store(SourceKind::mtc);
  engine.clock.withLock([](TimecodeClock& c) { c.rate = FrameRate::fps29_97ND; });  // as if detected
  engine.receiveMTC(MTCDecoder::Event::fullFrame(kOneHour, FrameRate::fps30, kT0), "Desk");
  const TimecodeClock clock = engine.clock.read();
  ASSERT_EQ(clock.points.size(), 1u);
  EXPECT_EQ(clock.points[0], (TimecodeClock::Point{kT0, 108000.0}));
  EXPECT_EQ(clock.rate, FrameRate::fps29_97ND);
  EXPECT_EQ(engine.lastReceived.read(),
            (ReceivedFrame{kOneHour, FrameRate::fps30, std::nullopt, false, kT0}));
  EXPECT_EQ(engine.counters.read().mtcSequences, 0);

  engine.receiveMTC(MTCDecoder::Event::fullFrame(kOneHour, FrameRate::fps30, kT0 + 0.04), "Tape");
  EXPECT_EQ(engine.counters.read().fullFrames, 2);
  EXPECT_EQ(engine.counters.read().mtcSource.view(), "Tape");

  engine.mtcSourceName.assign("Desk");
  for (const char* name : {"Tape", "desk", "Desk ", "", "Desk"})
    engine.receiveMTC(MTCDecoder::Event::fullFrame(kOneHour, FrameRate::fps30, kT0 + 0.08), name);
  EXPECT_EQ(engine.counters.read().fullFrames, 3) << "only the exact name is accepted";
  EXPECT_EQ(engine.counters.read().mtcSource.view(), "Desk");
}

TEST(TimecodeEngineCore, ObservesForwardSequencesPieceByPieceAndReverseOnesOnceAtTheFirstPiece) {
  TimecodeEngineCore engine;
  engine.source.store(SourceKind::mtc);
  engine.receiveMTC(sequence(kOneHour, kT0), "Desk");
  TimecodeClock clock = engine.clock.read();
  ASSERT_EQ(clock.points.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(clock.points[k],
              (TimecodeClock::Point{kT0 + 0.01 * static_cast<double>(k), 90000.0 + 0.25 * k}));
  }
  // Shown: the frame that follows, as the last piece arrives.
  EXPECT_EQ(engine.lastReceived.read(),
            (ReceivedFrame{Timecode{1, 0, 0, 1}, FrameRate::fps25, std::nullopt, false, kT0 + 0.01 * 7.0}));
  EXPECT_EQ(engine.counters.read().mtcSequences, 1);
  EXPECT_EQ(engine.counters.read().mtcSource.view(), "Desk");

  // The last frame of the day is followed by midnight, not by a frame past the end of the day.
  engine.resetInput();
  engine.receiveMTC(sequence(Timecode{23, 59, 59, 24}, kT0), "Desk");
  EXPECT_EQ(engine.lastReceived.read()->timecode, (Timecode{0, 0, 0, 0}));

  engine.resetInput();
  engine.receiveMTC(sequence(kOneHour, kT0, true), "Desk");
  clock = engine.clock.read();
  ASSERT_EQ(clock.points.size(), 1u);
  EXPECT_EQ(clock.points[0], (TimecodeClock::Point{kT0, 90000.0}));
  EXPECT_EQ(engine.snapshot(kT0).slope, -25.0) << "reverse play: a live line the outputs do not play";
  EXPECT_EQ(engine.lastReceived.read(), (ReceivedFrame{kOneHour, FrameRate::fps25, std::nullopt, true, kT0}));
}

// Art-Net carries only the four MTC types, so 29.97 non-drop arrives as 30: each packet is counted at its
// type's rate, and the clock tells the pulldown rate by the speed the packets come at (at every rate in
// timecode_clock_test.cpp), which the label is then shown at. A drop-frame type reaches the clock as such.
TEST(TimecodeEngineCore, TakesArtNetAtThePacketRateAndShowsThePulldownTheClockFinds) {
  for (const auto& [type, found] : {std::pair{FrameRate::fps30, FrameRate::fps29_97ND},
                                    std::pair{FrameRate::fps29_97DF, FrameRate::fps29_97DF}}) {
    TimecodeEngineCore engine;
    engine.source.store(SourceKind::artnet);
    const std::int64_t first = kOneHour.frameNumber(type);
    const double period = 1001.0 / 30000.0;
    const double end = feedArtNet(engine, first, type, 60, kT0, period);
    EXPECT_EQ(engine.clock.read().rate, found) << rawValue(found);
    EXPECT_EQ(engine.lastReceived.read(), (ReceivedFrame{Timecode::fromFrame(first + 59, type), found,
                                                         std::nullopt, false, end - period}));
    EXPECT_EQ(engine.counters.read().artnetFrames, 60);
    EXPECT_EQ(engine.snapshot(end).state(end), TimecodeClock::State::locked) << rawValue(found);
  }
}

TEST(TimecodeEngineCore, RecordsEachLTCFrameWithItsUserBitsAndCountsIt) {
  TimecodeEngineCore engine;
  // Until the detector has seen a frame's length, code is counted at 25.
  engine.receiveLTC(LTCFrame{Timecode{1, 0, 0, 0}}, kT0 - 1.0, 0.0, false);
  EXPECT_EQ(engine.clock.read().points.back().position, 90000.0);
  engine.resetInput();

  const double end = feedLTC(engine, 90000, FrameRate::fps25, 10, kT0, 0.04, 0x12345678u);
  EXPECT_EQ(engine.snapshot(end).state(end), TimecodeClock::State::locked) << "not within half a second";
  EXPECT_EQ(engine.lastReceived.read(),
            (ReceivedFrame{Timecode{1, 0, 0, 9}, FrameRate::fps25, 0x12345678u, false, end - 0.04}));
  EXPECT_EQ(engine.counters.read().ltcFrames, 10);
  EXPECT_EQ(engine.clock.read().points.back().position, 90009.0);
}

// A forced rate wins over whatever rate the code carries or the detector would find: every source's
// labels are counted and shown at it, and no pulldown is sought.
TEST(TimecodeEngineCore, CountsEverySourceAtTheForcedRate) {
  const Timecode last{0, 0, 1, 9};  // the 40th frame of 30 fps code from 00:00:00:00
  for (const SourceKind kind : {SourceKind::ltc, SourceKind::mtc, SourceKind::artnet}) {
    SCOPED_TRACE(std::string(rawValue(kind)));
    TimecodeEngineCore engine;
    engine.source.store(kind);
    engine.rateOverride.store(FrameRate::fps24);
    engine.resetInput();  // as the store does after forcing a rate: pulldown detection goes off
    EXPECT_FALSE(engine.clock.read().detectsPulldown);
    if (kind == SourceKind::ltc) feedLTC(engine, 0, FrameRate::fps30, 40, kT0, 1.0 / 30.0);
    if (kind == SourceKind::mtc)
      engine.receiveMTC(MTCDecoder::Event::fullFrame(last, FrameRate::fps30, kT0), "");
    if (kind == SourceKind::artnet) feedArtNet(engine, 0, FrameRate::fps30, 40, kT0, 1.0 / 30.0);
    EXPECT_EQ(engine.clock.read().points.back().position, 33.0) << "00:00:01:09 counted at 24";
    EXPECT_EQ(engine.clock.read().rate, FrameRate::fps24);
    EXPECT_EQ(engine.lastReceived.read()->rate, FrameRate::fps24);
  }

  // A clock that had already found 23.976 keeps it, since 24 is compatible, and shows it.
  TimecodeEngineCore engine;
  engine.rateOverride.store(FrameRate::fps24);
  engine.clock.withLock([](TimecodeClock& c) { c.rate = FrameRate::fps23_976; });
  engine.resetInput();
  feedLTC(engine, 0, FrameRate::fps24, 30, kT0, 1.0 / 24.0);
  EXPECT_EQ(engine.clock.read().rate, FrameRate::fps23_976);
  EXPECT_EQ(engine.lastReceived.read()->rate, FrameRate::fps23_976);
}

TEST(TimecodeEngineCore, StartsRateDetectionOverAfterABreakInTheCode) {
  TimecodeEngineCore engine;
  double t = feedLTC(engine, 0, FrameRate::fps25, 10, kT0, 0.04);
  // 0.4 s of silence is not a break for the detector.
  t = feedLTC(engine, 20, FrameRate::fps25, 1, t + 0.36, 0.04);
  EXPECT_EQ(engine.detector.read().durationCount, 11);

  // 0.6 s is: the detector has seen only the new frame, and the clock counts a dropout.
  feedLTC(engine, 40, FrameRate::fps25, 1, t - 0.04 + 0.6, 0.04);
  EXPECT_EQ(engine.detector.read().durationCount, 1);
  EXPECT_EQ(engine.detector.read().previous, Timecode::fromFrame(40, FrameRate::fps25));
  EXPECT_EQ(engine.clock.read().dropouts, 1);
}

// Code decoded from audio that a transport plays at play speed, then varispeeded and shuttled, then at
// play speed again, each stretch starting where the last one ended; frames reach the engine stamped with
// the host time of their first sample and their measured length, as the LTC input stamps them.
struct Stretch {
  double speed;
  double seconds;
  double endTime = 0;      // host seconds at its end
  double endPosition = 0;  // the position played then, in frames
};
std::vector<LTCDecoder::Frame> play(FrameRate rate, double sampleRate, std::vector<Stretch>& stretches) {
  std::vector<float> audio;
  double position = 3600.0 * realFramesPerSecond(rate);
  for (Stretch& s : stretches) {
    const std::vector<float> part = test::renderCode(rate, sampleRate, position, s.seconds, s.speed);
    audio.insert(audio.end(), part.begin(), part.end());
    position += static_cast<double>(part.size()) / sampleRate * realFramesPerSecond(rate) * s.speed;
    s.endTime = kT0 + static_cast<double>(audio.size()) / sampleRate;
    s.endPosition = position;
  }
  return test::decodeAll(sampleRate, audio);
}

TEST(TimecodeEngineCore, LocksOnShuttledCodeAtItsSpeedWithoutBeingFooledAboutItsRate) {
  for (const FrameRate rate : {FrameRate::fps25, FrameRate::fps29_97ND, FrameRate::fps24}) {
    SCOPED_TRACE(std::string(rawValue(rate)));
    std::vector<Stretch> stretches = {{1.0, 2.0},  {0.8, 3.0}, {0.5, 3.0}, {2.0, 3.0},
                                      {0.25, 4.0}, {2.5, 3.0}, {1.0, 3.0}};
    const auto frames = play(rate, 48000, stretches);
    TimecodeEngineCore engine;
    std::size_t next = 0;
    for (const Stretch& s : stretches) {
      SCOPED_TRACE(s.speed);
      for (; next < frames.size() && kT0 + frames[next].start / 48000 < s.endTime; ++next) {
        engine.receiveLTC(frames[next].frame, kT0 + frames[next].start / 48000, frames[next].length / 48000,
                          false);
        // The label count per second is never mistaken, whatever the speed.
        ASSERT_EQ(framesPerSecond(engine.lastReceived.read()->rate), framesPerSecond(rate));
      }
      // Judged at the end of every stretch: locked, at the stretch's speed, where the code is.
      const TimecodeClock clock = engine.clock.read();
      EXPECT_TRUE(clock.hasLocked);
      EXPECT_NEAR(clock.fit->slope / realFramesPerSecond(rate), s.speed, 1e-3);
      EXPECT_NEAR(*engine.snapshot(s.endTime).position(s.endTime), s.endPosition, 0.05);
    }
    EXPECT_EQ(engine.clock.read().rate, rate);  // 29.97 ND told from 30 again once back at play speed
    EXPECT_EQ(engine.clock.read().dropouts, 0);
  }

  // A shuttle ramp from 2.5x down to a quarter of play speed over ten seconds: the clock reads where the
  // code is, frame by frame, throughout.
  const auto frames = test::decodeAll(
      48000, test::renderGlide(FrameRate::fps25, 48000, 90000, 10.0, 2.5, 0.25, 0, test::Glide::exponential));
  TimecodeEngineCore engine;
  double worst = 0;
  int judged = 0;
  for (const auto& f : frames) {
    const double at = kT0 + f.start / 48000;
    const ClockSnapshot before = engine.snapshot(at);
    if (before.hasLocked && before.position(at)) {
      ++judged;
      worst =
          std::max(worst, std::abs(*before.position(at) - f.frame.timecode.frameNumber(FrameRate::fps25)));
    }
    engine.receiveLTC(f.frame, at, f.length / 48000, false);
  }
  // The line looks back over a second, so while the speed falls by a ratio it lags: less than a frame,
  // and where it misses by more than half a frame two frames agreeing on the new running time relock it.
  EXPECT_LT(worst, 1.0);
  EXPECT_GE(judged, static_cast<int>(frames.size()) * 3 / 4);
  EXPECT_EQ(engine.clock.read().dropouts, 0);
}

TEST(TimecodeEngineCore, ResetInputForgetsEverythingLearnedFromTheInput) {
  TimecodeEngineCore engine;
  engine.clock.withLock([](TimecodeClock& c) {
    c.freewheelDuration = 7.0;
    c.lockTime = 0.3;
    c.detectsPulldown = false;
  });
  feedLTC(engine, 0, FrameRate::fps30, 60, kT0, 1.0 / 30.0);
  engine.receiveLTC(LTCFrame{Timecode{5, 0, 0, 0}}, kT0 + 2.0, 1.0 / 30.0, false);  // a stray frame
  ASSERT_GT(engine.clock.read().rejected, 0);

  engine.resetInput();
  ReceptionStats cleared;                // what the status display shows: nothing counted, nothing measured
  cleared.clockRate = FrameRate::fps30;  // the rate found is kept
  EXPECT_EQ(engine.stats(), cleared) << "a count, a measurement or the last frame survived the reset";
  EXPECT_EQ(engine.snapshot(kT0 + 2.0).state(kT0 + 2.0), TimecodeClock::State::stopped);
  EXPECT_EQ(engine.detector.read().durationCount, 0);
  const TimecodeClock clock = engine.clock.read();
  EXPECT_TRUE(clock.points.empty());
  EXPECT_FALSE(clock.fit || clock.acquiredAt || clock.pendingJump || clock.hasLocked);
  EXPECT_TRUE(clock.detectsPulldown) << "no rate is forced, so pulldown detection comes back on";
  // Kept too: what the user set.
  EXPECT_EQ(clock.freewheelDuration, 7.0);
  EXPECT_EQ(clock.lockTime, 0.3);
}

TEST(TimecodeEngineCore, WritesNothingOnStandardErrorWithoutTimecodeDebug) {
  if (std::getenv("TIMECODE_DEBUG") != nullptr) GTEST_SKIP() << "TIMECODE_DEBUG is set for this run";
  TimecodeEngineCore engine;
  testing::internal::CaptureStderr();
  feedLTC(engine, 500, FrameRate::fps25, 3, feedLTC(engine, 0, FrameRate::fps25, 20, kT0, 0.04), 0.04);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(engine.clock.read().jumps, 1);
}

TEST(TimecodeEngineCore, ReceivesAndServesWithoutAllocating) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  TimecodeEngineCore engine;
  const std::string longName(300, 'm');                // beyond any small-string buffer
  feedLTC(engine, 0, FrameRate::fps25, 5, kT0, 0.04);  // warm-up outside the measurement
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    double t = feedLTC(engine, 5, FrameRate::fps25, 100, kT0 + 0.2, 0.04);
    (void)engine.snapshot(t);
    engine.source.store(SourceKind::mtc);
    for (int i = 0; i < 50; ++i, t += 0.08) {
      engine.receiveMTC(sequence(kOneHour, t), longName);
      engine.receiveMTC(MTCDecoder::Event::fullFrame(kOneHour, FrameRate::fps25, t), longName);
    }
    (void)engine.snapshot(t);
    engine.source.store(SourceKind::artnet);
    t = feedArtNet(engine, 90000, FrameRate::fps25, 100, t, 0.04);
    (void)engine.snapshot(t);
    engine.source.store(SourceKind::generator);
    (void)engine.snapshot(t);
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
  EXPECT_EQ(engine.counters.read().mtcSource.view(), longName);
}

// Every path that takes locks, on the threads that take them, all at once: a wrong nesting deadlocks
// here (caught by the deadline) or is reported by ThreadSanitizer as a lock-order inversion.
TEST(TimecodeEngineCore, ServesEveryThreadAtOnceWithoutDeadlock) {
  TimecodeEngineCore engine;
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  auto repeat = [&](auto body) {
    threads.emplace_back([&, body] {
      for (int i = 0; i < 3000; ++i) body(i);
      finished.fetch_add(1);
    });
  };
  repeat([&](int i) { feedLTC(engine, i, FrameRate::fps25, 1, kT0 + i * 0.04, 0.04); });     // audio input
  repeat([&](int i) { engine.receiveMTC(sequence(kOneHour, kT0 + i * 0.08), "Desk"); });     // MIDI receive
  repeat([&](int i) { feedArtNet(engine, i, FrameRate::fps25, 1, kT0 + i * 0.04, 0.04); });  // Art-Net
  repeat([&](int i) { (void)engine.snapshot(kT0 + i * 0.01); });                             // an output
  repeat([&](int i) {                                                                        // the store
    engine.source.store(kAllSourceKinds[static_cast<std::size_t>(i) % kAllSourceKinds.size()]);
    engine.rateOverride.store((i % 2) ? std::optional<FrameRate>(FrameRate::fps24) : std::nullopt);
    engine.resetInput();
    (void)engine.stats();
  });
  if (!test::waitFor([&] { return finished.load() == 5; }, 120.0)) {
    ADD_FAILURE() << "the engine's locks deadlocked";
    std::abort();  // the stuck threads cannot be joined, and must not outlive the engine
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace
}  // namespace quillmark
