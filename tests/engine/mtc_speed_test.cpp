// Received MTC must measure at its true speed: the clock tells 30 from 29.97 by 0.1 %, so a millisecond of
// wander in the receive time stamps over a second shows a 30 fps desk as 29.97 ND. Here the frame-to-time
// line on its own with made-up wake-ups; end to end on JACK in timecode_engine_jack_test.cpp.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "jack/jack_frame_clock.h"

namespace quillmark::test {
namespace {

constexpr double kRate = 48000.0;
constexpr std::uint32_t kPeriod = 1024;

// When a made-up server whose frames run `ppm` fast against the host clock reaches `frames`.
double trueHost(std::int64_t frames, double ppm = 0.0) {
  return 1000.0 + static_cast<double>(frames) / (kRate * (1.0 + ppm * 1e-6));
}

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
    JackFrameClock clock;
    std::mt19937 random(7);
    const std::uint32_t startFrame = 0u - 40u * kPeriod;  // the frame counter wraps after 40 cycles
    std::vector<double> errors;  // of the line at an event half way through each cycle
    double worst = 0.0, worstChange = 0.0;
    for (int cycle = 0; cycle < 47 * 20; ++cycle) {
      const std::int64_t frames = static_cast<std::int64_t>(cycle) * kPeriod;
      const auto counter = static_cast<std::uint32_t>(startFrame + static_cast<std::uint64_t>(frames));
      clock.observe(counter, trueHost(frames, ppm) + lateness(random, cycle), kRate);
      errors.push_back(clock.hostSeconds(counter, kPeriod / 2.0) - trueHost(frames + kPeriod / 2, ppm));
      if (cycle >= 24) worst = std::max(worst, std::abs(errors.back()));  // once it has half a second
      if (cycle >= 24 + 47)
        worstChange = std::max(worstChange, std::abs(errors.back() - errors[errors.size() - 48]));
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
  JackFrameClock clock;
  std::int64_t frames = 0;
  double shift = 0.0;  // how far the frames have fallen behind the first line
  auto cycle = [&](double late) {
    const auto counter = static_cast<std::uint32_t>(frames);
    clock.observe(counter, trueHost(frames) + shift + late, kRate);
    const double error = clock.hostSeconds(counter, 0.0) - (trueHost(frames) + shift);
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
  clock.observe(static_cast<std::uint32_t>(frames), trueHost(frames) + shift, 44100.0);
  EXPECT_DOUBLE_EQ(clock.secondsPerFrame(), 1.0 / 44100.0);
}

}  // namespace
}  // namespace quillmark::test
