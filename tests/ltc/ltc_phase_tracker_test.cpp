// The output's phase tracker: timing noise between buffers must never cost a frame, while a real jump is
// followed at once.

#include "ltc/ltc_phase_tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/timecode.h"
#include "tests/ltc/ltc_signal.h"

namespace quillmark {
namespace {

constexpr double kSampleRate = 48000.0;
constexpr int kBuffer = 1024;

// Renders 300 buffers (10 s) of 30 fps code whose clock position is read at a host time that wanders by up
// to 0.2 ms from the true cycle start, as JACK's cycle times do, each buffer placed by the tracker or simply
// at the clock's position; decodes the result and returns how many decoded labels break the count by one
// frame each.
int brokenLabels(bool tracked, int* decoded) {
  const double step = 30.0 / kSampleRate;
  const double first = Timecode{1, 0, 0, 0}.frameNumber(FrameRate::fps30);
  LTCEncoder encoder(kSampleRate);
  encoder.setRate(FrameRate::fps30);
  LTCPhaseTracker phase;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> wander(-0.0002, 0.0002);
  std::vector<float> samples(300 * kBuffer);
  for (int b = 0; b < 300; ++b) {
    const double target = first + (b * kBuffer) * step + wander(random) * 30.0;
    const LTCPhaseTracker::Run run =
        tracked ? phase.next(target, step, kBuffer) : LTCPhaseTracker::Run{target, step};
    encoder.render(samples.data() + static_cast<std::ptrdiff_t>(b) * kBuffer, kBuffer, run.start, run.step);
  }
  const auto frames = test::decodeAll(kSampleRate, samples);
  *decoded = static_cast<int>(frames.size());
  int broken = 0;
  for (std::size_t i = 1; i < frames.size(); ++i)
    broken += frames[i].frame.timecode.frameNumber(FrameRate::fps30) !=
              frames[i - 1].frame.timecode.frameNumber(FrameRate::fps30) + 1;
  return broken;
}

TEST(LTCPhaseTracker, KeepsEveryFrameIntactThroughBufferTimingNoise) {
  // 0.2 ms of wander is about half a bit cell at 30 fps: enough to make the reader slip when each buffer
  // simply starts at the clock's position, which is what the tracker is for.
  int decoded = 0;
  EXPECT_GT(brokenLabels(false, &decoded), 0) << "the noise is too small to prove anything";
  EXPECT_EQ(brokenLabels(true, &decoded), 0);
  EXPECT_GE(decoded, 180);
}

TEST(LTCPhaseTracker, SteersSmallPartingsOutAndFollowsJumpsAtOnce) {
  const double step = 25.0 / kSampleRate;
  LTCPhaseTracker phase;
  // The first buffer, and the first after a reset, start exactly where the clock says.
  EXPECT_EQ(phase.next(1000.3, step, kBuffer), (LTCPhaseTracker::Run{1000.3, step}));
  double clock = 1000.3 + step * kBuffer;
  ASSERT_TRUE(phase.expected());
  EXPECT_DOUBLE_EQ(*phase.expected(), clock);

  // The clock moves 0.1 frame ahead: the phase continues and catches up by at most 1% of speed per buffer.
  clock += 0.1;
  double parting = 0.1;
  for (int b = 0; b < 200 && parting > 1e-9; ++b) {
    const LTCPhaseTracker::Run run = phase.next(clock, step, kBuffer);
    EXPECT_DOUBLE_EQ(run.start, clock - parting);
    EXPECT_LE(std::abs(run.step / step - 1.0), LTCPhaseTracker::kMaxSteer + 1e-12);
    clock += step * kBuffer;
    parting = clock - *phase.expected();
    EXPECT_GE(parting, -1e-9) << "overshot";
  }
  EXPECT_NEAR(parting, 0.0, 1e-9) << "never caught up";

  // Half a frame or more, either way, is a jump: followed in the very next buffer.
  for (const double jump : {0.5, -0.5, 40.0, -3.0}) {
    clock += jump;
    EXPECT_EQ(phase.next(clock, step, kBuffer), (LTCPhaseTracker::Run{clock, step})) << jump;
    clock += step * kBuffer;
  }

  // Silence (a reset) or a position that is not a number forgets the phase.
  phase.reset();
  EXPECT_EQ(phase.next(clock + 0.2, step, kBuffer), (LTCPhaseTracker::Run{clock + 0.2, step}));
  const LTCPhaseTracker::Run nan = phase.next(std::nan(""), step, kBuffer);
  EXPECT_TRUE(std::isnan(nan.start));
  EXPECT_FALSE(phase.expected());
}

}  // namespace
}  // namespace quillmark
