// The Art-Net output's decisions in simulated host time: no thread, no socket, no sleeping.
#include "midi/artnet_sender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/midi/simulated_wire.h"

namespace quillmark {
namespace {

// Records each packet's label with its stamp.
class SimulatedWire final : public test::SimulatedPasses<ArtNetSender> {
 public:
  struct Packet {
    Timecode timecode;
    double stamp;
  };
  using SimulatedPasses::SimulatedPasses;
  void send(const ArtNet::TimeCodePacket& packet, double due) noexcept override {
    sent.push_back({ArtNet::parseTimeCode(packet)->timecode, due});
  }
  std::vector<Packet> sent;
};

// A running line as the generator serves it: live whenever it is read.
ClockSnapshot line(FrameRate rate, double at, double fitPosition, double speed = 1.0) {
  return test::runningClock(rate, fitPosition, 0.0, at, speed);
}

// At play speed and at 0.04x (one frame a second at 25 fps, where a pass looks again many times before a
// frame is due), with the frames crossing midnight.
TEST(ArtNetSender, SendsEveryFrameOnceAtItsDueTimeAcrossMidnightWithOffsetAndLeadAtAnySpeed) {
  for (const FrameRate rate : kAllFrameRates) {
    for (const double speed : {1.0, 0.04}) {
      for (const double lead : {-0.1, 0.0, 0.1}) {
        const double offset = 2.5;
        const double start = static_cast<double>(framesPerDay(rate)) - 40.0;  // 40 frames before midnight
        SimulatedWire wire(0.0);
        ArtNetSender sender;
        wire.run(sender, {offset, lead}, 3.0 / speed,
                 [&](double now) { return line(rate, now, start, speed); });
        ASSERT_GT(wire.sent.size(), 60u);
        const double framesPerSecond = realFramesPerSecond(rate) * speed;
        // The first packet is the frame the clock stands in, sent at once; each later one is due when the
        // clock, offset and lead applied, reaches its start.
        const auto first = static_cast<std::int64_t>(std::floor(start + offset + lead * framesPerSecond));
        const std::string what = std::string(rawValue(rate)) + ", speed " + std::to_string(speed) +
                                 ", lead " + std::to_string(lead);
        for (std::size_t i = 0; i < wire.sent.size(); ++i) {
          const std::int64_t frame = first + static_cast<std::int64_t>(i);
          ASSERT_EQ(wire.sent[i].timecode, Timecode::fromFrame(frame, rate)) << what << ", packet " << i;
          if (i > 0) {
            const double due = (static_cast<double>(frame) - offset - start) / framesPerSecond - lead;
            EXPECT_NEAR(wire.sent[i].stamp, due, 1e-9) << what << ", packet " << i;
          }
        }
      }
    }
  }
}

TEST(ArtNetSender, IsSilentWhileIdleOrBackwardsAndResumesWithTheCurrentFrame) {
  SimulatedWire wire(0.0);
  ArtNetSender sender;
  wire.run(sender, {}, 0.5, [](double) { return ClockSnapshot{}; });
  wire.run(sender, {}, 1.0, [](double now) { return line(FrameRate::fps25, now, 1000.0, -1.0); });
  EXPECT_TRUE(wire.sent.empty());
  wire.run(sender, {}, 1.1, [](double now) { return line(FrameRate::fps25, now, 500.0); });
  ASSERT_FALSE(wire.sent.empty());
  // The frame the clock stands in when it runs again, at once.
  const double resumed = wire.sent.front().stamp;
  EXPECT_NEAR(resumed, 1.0, 0.0021);
  EXPECT_EQ(wire.sent.front().timecode,
            Timecode::fromFrame(500 + static_cast<std::int64_t>(25 * resumed), FrameRate::fps25));
}

TEST(ArtNetSender, StepsWithinHalfAFrameSendNothingTwiceAndLargerOnesSendTheNewFrameOnce) {
  const FrameRate rate = FrameRate::fps25;
  const auto framesAfterStep = [&](double step) {
    SimulatedWire wire(0.0);
    ArtNetSender sender;
    wire.run(sender, {}, 1.01, [&](double now) { return line(rate, now, 100.0); });
    const std::size_t before = wire.sent.size();
    wire.run(sender, {}, 1.5, [&](double now) { return line(rate, now, 100.0 + step); });
    std::vector<std::int64_t> frames;
    for (std::size_t i = before; i < wire.sent.size(); ++i)
      frames.push_back(wire.sent[i].timecode.frameNumber(rate));
    return frames;
  };
  // Frame 125 went out at 1.0 s; the clock now stands 0.01 s (a quarter frame) into it. Within half a frame
  // the run goes on with 126, nothing re-sent; a larger step starts from the frame the clock stands in.
  for (const double step : {-0.2, 0.3, -1.0, 3.0, 1000.0}) {
    const auto frames = framesAfterStep(step);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(),
              std::fabs(step) < 0.5 ? 126 : static_cast<std::int64_t>(std::floor(125.25 + step)))
        << step;
    for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i], frames[i - 1] + 1) << step;
  }
}

}  // namespace
}  // namespace quillmark
