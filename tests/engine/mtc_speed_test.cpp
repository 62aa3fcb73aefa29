// Received MTC must measure at its true speed: the clock tells 30 from 29.97 by 0.1 %, so a millisecond of
// wander in the receive time stamps over a second shows a 30 fps desk as 29.97 ND. Here on an isolated
// JACK server, judged only over stretches without xruns, and the frame-to-time line on its own with
// made-up wake-ups.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>

#include "audio/jack_frame_clock.h"
#include "core/engine/timecode_engine.h"
#include "core/host_time.h"
#include "tests/engine/jack_world.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

// ---- The frame-to-time line, with made-up wake-ups ----

constexpr double kRate = 48000.0;
constexpr std::uint32_t kPeriod = 1024;

// A server whose frames run `ppm` fast against the host clock and whose wake-ups come late by `lateness`.
struct MadeUpServer {
  double ppm = 0.0;
  double startHost = 1000.0;
  std::uint32_t startFrame = 0;
  double trueHost(std::int64_t framesSinceStart) const {
    return startHost + static_cast<double>(framesSinceStart) / (kRate * (1.0 + ppm * 1e-6));
  }
};

// Wake-ups of a busy virtual machine, as measured on the test machines: mostly tens of microseconds late,
// now and then a stall of several milliseconds, and stretches of seconds where nine wake-ups in ten are a
// millisecond late.
double lateness(std::mt19937& random, int cycle) {
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const bool slowStretch = (cycle / 100) % 3 == 1;  // two seconds of every six
  double late = 20e-6 + 40e-6 * uniform(random);
  if (slowStretch && uniform(random) < 0.9) late += 0.8e-3 + 0.4e-3 * uniform(random);
  if (uniform(random) < 0.08) late += 8e-3 * uniform(random);
  return late;
}

TEST(JackFrameClock, KeepsReceivedTimeStraightThroughLateWakeUps) {
  for (const double ppm : {0.0, 60.0, -60.0}) {
    MadeUpServer server{ppm, 1000.0, 0u - 40u * kPeriod};  // the frame counter wraps after 40 cycles
    JackFrameClock clock;
    std::mt19937 random(7);
    std::vector<double> errors;  // of the line at each cycle's first frame, once it has half a second
    for (int cycle = 0; cycle < 47 * 20; ++cycle) {
      const std::int64_t frames = static_cast<std::int64_t>(cycle) * kPeriod;
      const auto counter = static_cast<std::uint32_t>(server.startFrame + static_cast<std::uint64_t>(frames));
      clock.observe(counter, server.trueHost(frames) + lateness(random, cycle), kRate);
      // An event half way through the cycle.
      const double error = clock.hostSeconds(counter, kPeriod / 2.0) - server.trueHost(frames + kPeriod / 2);
      if (cycle >= 24) errors.push_back(error);
    }
    double worst = 0.0, worstChange = 0.0;
    for (std::size_t i = 0; i < errors.size(); ++i) {
      worst = std::max(worst, std::abs(errors[i]));
      if (i >= 47) worstChange = std::max(worstChange, std::abs(errors[i] - errors[i - 47]));
    }
    // Within a tenth of a millisecond anywhere, and never moving 100 µs within one second (100 ppm, a
    // third of the clock's 0.0003 tolerance; the first second runs at the nominal slope).
    EXPECT_LT(worst, 100e-6) << ppm << " ppm";
    EXPECT_LT(worstChange, 100e-6) << ppm << " ppm";
    EXPECT_NEAR(clock.secondsPerFrame() * kRate * (1.0 + ppm * 1e-6), 1.0, 5e-6) << ppm << " ppm";
    EXPECT_EQ(clock.restarts(), 0u) << ppm << " ppm";
  }
}

TEST(JackFrameClock, StartsAfreshWhenFramesAndTimePartWays) {
  MadeUpServer server;
  JackFrameClock clock;
  std::int64_t frames = 0;
  double shift = 0.0;  // how far the frames have fallen behind the first line
  auto cycle = [&](double late) {
    const auto counter = static_cast<std::uint32_t>(frames);
    clock.observe(counter, server.trueHost(frames) + shift + late, kRate);
    const double error = clock.hostSeconds(counter, 0.0) - (server.trueHost(frames) + shift);
    frames += kPeriod;
    return error;
  };
  for (int i = 0; i < 200; ++i) cycle(30e-6);
  // A single stall is scheduling, not a new line.
  EXPECT_LT(std::abs(cycle(15e-3)), 100e-6);
  EXPECT_EQ(clock.restarts(), 0u);

  // An xrun: the server lost 50 ms, the frame counter went on as if nothing happened.
  shift = 0.050;
  double error = 0.0;
  for (int i = 0; i < 47; ++i) error = cycle(30e-6);
  EXPECT_EQ(clock.restarts(), 1u);
  EXPECT_LT(std::abs(error), 100e-6);

  // A server that comes back with its frames earlier than the line: at once.
  shift = 0.020;
  cycle(30e-6);
  EXPECT_EQ(clock.restarts(), 2u);
  EXPECT_LT(std::abs(cycle(30e-6)), 100e-6);

  // A new sample rate starts over in it.
  clock.observe(static_cast<std::uint32_t>(frames), server.trueHost(frames) + shift, 44100.0);
  EXPECT_DOUBLE_EQ(clock.secondsPerFrame(), 1.0 / 44100.0);
}

// ---- End to end: a desk sends MTC to Quillmark's virtual destination ----

class ReceivedMTCSpeed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = test::JackServer::start(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    engine_ = std::make_unique<TimecodeEngine>();
    probe_ = test::openTestClient("probe");
    ASSERT_NE(probe_, nullptr);
    engine_->source.withLock([](SourceKind& s) { s = SourceKind::mtc; });
    engine_->resetInput();
  }
  void TearDown() override {
    engine_.reset();
    jack_client_close(probe_);
  }

  struct Watch {
    int judged = 0;
    int wrongRate = 0;
    double worstSpeedError = 0.0;
  };

  // From the moment the clock locks, reads the clock's rate and speed every 50 ms for `seconds`; a
  // reading taken while the desk saw an xrun, or within 1.2 s after one (the clock's window), is not judged.
  Watch watch(const test::MTCSender& desk, FrameRate expected, double seconds) {
    Watch result;
    EXPECT_TRUE(test::waitFor([&] { return engine_->clock.read().hasLocked; }, 5.0));
    const double end = HostTime::now() + seconds;
    int xruns = desk.xruns();
    double lastXrun = -1e9;
    while (HostTime::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const auto [rate, speed, span] = engine_->clock.withLock([](const TimecodeClock& c) {
        return std::tuple{c.rate, c.speed(),
                          c.points.empty() ? 0.0 : c.points.back().time - c.points[0].time};
      });
      if (desk.xruns() != xruns) {
        xruns = desk.xruns();
        lastXrun = HostTime::now();
      }
      if (HostTime::now() - lastXrun < 1.2) continue;
      ++result.judged;
      if (rate != expected) ++result.wrongRate;
      // The speed is the decision's evidence once the window is as long as the decision needs.
      if (speed && span > 0.5)
        result.worstSpeedError = std::max(result.worstSpeedError, std::abs(*speed - 1.0));
    }
    return result;
  }

  void listenTo(const test::MTCSender& desk) {
    const std::string destination =
        test::findPort(probe_, "^Quillmark:Virtual in$", JACK_DEFAULT_MIDI_TYPE, 0);
    ASSERT_TRUE(test::connectPorts(probe_, desk.port(), destination));
  }

  static inline std::unique_ptr<test::JackServer> server_;
  std::unique_ptr<TimecodeEngine> engine_;
  jack_client_t* probe_ = nullptr;
};

TEST_F(ReceivedMTCSpeed, ShowsExactThirtyAsThirtyFromTheFirstSecond) {
  test::MTCSender desk(FrameRate::fps30, 108000);  // 01:00:00:00
  listenTo(desk);
  const Watch seen = watch(desk, FrameRate::fps30, 3.0);
  std::printf("[ measure ] 30 fps MTC: worst speed error %.0f ppm over %d readings\n",
              seen.worstSpeedError * 1e6, seen.judged);
  ASSERT_GE(seen.judged, 20) << "too many xruns to judge";
  EXPECT_EQ(seen.wrongRate, 0);
  EXPECT_LT(seen.worstSpeedError, 0.0003);
}

TEST_F(ReceivedMTCSpeed, ShowsPulldownLabelledThirtyAsNonDrop2997) {
  // 30 fps labels (MTC has one code for both) at 30000/1001 frames per second.
  test::MTCSender desk(FrameRate::fps29_97ND, 108000);
  listenTo(desk);
  ASSERT_TRUE(test::waitFor([&] { return engine_->clock.read().rate == FrameRate::fps29_97ND; }, 3.0));
  const Watch seen = watch(desk, FrameRate::fps29_97ND, 2.0);
  std::printf("[ measure ] 29.97 ND MTC: worst speed error %.0f ppm over %d readings\n",
              seen.worstSpeedError * 1e6, seen.judged);
  ASSERT_GE(seen.judged, 10) << "too many xruns to judge";
  EXPECT_EQ(seen.wrongRate, 0);
  EXPECT_LT(seen.worstSpeedError, 0.0003);
}

}  // namespace
}  // namespace quillmark
