// ArtNetOutput through the real UDP stack to an ArtNetInput, on the loopback interface only.
#include "net/artnet_output.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/host_time.h"
#include "net/artnet_input.h"
#include "tests/net/received_timecodes.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

// A generator-like line: frame `start` at host time `origin`, at play speed, live whenever it is read.
struct Line {
  FrameRate rate;
  double origin;
  double start;

  ClockSnapshot at(double now) const {
    ClockSnapshot snapshot;
    snapshot.rate = rate;
    snapshot.lastInput = now;
    snapshot.fitTime = origin;
    snapshot.fitPosition = start;
    snapshot.slope = realFramesPerSecond(rate);
    return snapshot;
  }
};

TEST(ArtNetOutput, SendsEveryFrameInSequenceAcrossMidnightAtItsTime) {
  for (const FrameRate rate : kAllFrameRates) {
    test::ReceivedTimeCodes arrivals;
    ArtNetInput input(arrivals.handler());
    input.start({"127.0.0.1", 0, 1.0});

    // Ten frames before midnight, starting now; the sender thread is counted as real-time from its first
    // pass on.
    const Line line{rate, HostTime::now() + 0.05, static_cast<double>(framesPerDay(rate)) - 10.0};
    test::resetRealtimeAllocations();
    ArtNetOutput output;
    output.setClock([&line] {
      test::setRealtimeThread(true);
      return line.at(HostTime::now());
    });
    output.start("127.0.0.1", input.boundPort());
    ASSERT_TRUE(test::waitFor([&] { return arrivals.count >= 20; }, 5.0)) << rawValue(rate);
    output.stop();
    input.stop();
    EXPECT_FALSE(input.isRunning());
    EXPECT_EQ(input.stats().timecodes, arrivals.count);
    if (test::allocationCountingAvailable()) {
      EXPECT_EQ(test::realtimeAllocations(), 0u);
    }
    EXPECT_EQ(output.error(), std::nullopt);

    // Every frame once, in order, through 00:00:00:00; and each sent during its own frame, which the line
    // shows at the arrival stamp (taken on another thread, after the loopback). Judged by frames, not by
    // milliseconds: a shared machine may wake the sender late now and then, so most packets must land in
    // their frame, not all.
    std::size_t inTheirFrame = 0;
    const std::size_t count = arrivals.count;
    const std::int64_t first = arrivals.timecodes[0].timecode.frameNumber(rate);
    for (std::size_t i = 0; i < count; ++i) {
      const std::int64_t frame = first + static_cast<std::int64_t>(i);
      ASSERT_EQ(arrivals.timecodes[i].timecode, Timecode::fromFrame(frame, rate))
          << rawValue(rate) << " " << i;
      ASSERT_EQ(arrivals.timecodes[i].rate, rate == FrameRate::fps23_976    ? FrameRate::fps24
                                            : rate == FrameRate::fps29_97ND ? FrameRate::fps30
                                                                            : rate);
      const double shown = *line.at(arrivals.times[i]).position(arrivals.times[i]);
      inTheirFrame += std::floor(shown) == static_cast<double>(frame) ? 1 : 0;
    }
    EXPECT_GT(inTheirFrame, count / 2) << rawValue(rate) << ": packets that arrived during their frame";
  }
}

TEST(ArtNetOutput, ASendFailureIsTheOutputsErrorTheLoopKeepsTryingAndAFailedStartNamesTheAddress) {
  const Line line{FrameRate::fps25, HostTime::now(), 0.0};
  ArtNetOutput output;
  output.setClock([&line] { return line.at(HostTime::now()); });
  output.start("127.0.0.1", 0);  // the kernel refuses every datagram to port 0
  ASSERT_TRUE(test::waitFor([&] { return output.error().has_value(); }, 5.0));
  EXPECT_EQ(output.error(), "Invalid argument");
  EXPECT_TRUE(output.isStarted());
  EXPECT_EQ(output.packetsSent(), 0u);

  EXPECT_THROW(output.start("lighting desk", 6454), std::system_error);
  EXPECT_FALSE(output.isStarted());

  // An input that cannot start says where it tried, and can still start after a failure.
  ArtNetInput input([](const ArtNet::ReceivedTimeCode&, double) {});
  try {
    input.start({"not-an-address", 6454, 1.0});
    ADD_FAILURE() << "started";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find("not-an-address:6454"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(input.isRunning());
  input.start({"127.0.0.1", 0, 1.0});
  output.start("127.0.0.1", input.boundPort());
  ASSERT_TRUE(test::waitFor([&] { return output.packetsSent() >= 3; }, 5.0));
  EXPECT_EQ(output.error(), std::nullopt);
}

}  // namespace
}  // namespace quillmark
