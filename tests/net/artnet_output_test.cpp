// ArtNetOutput through the real UDP stack to an ArtNetInput, on the loopback interface only.
#include "net/artnet_output.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/host_time.h"
#include "net/artnet_input.h"
#include "tests/midi/simulated_wire.h"
#include "tests/net/received_timecodes.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

// Every rate's labels and packet types are the sender's and the packet's business (simulated in
// artnet_sender_test and artnet_timecode_test); this run proves the loop, the socket and the input
// around them, at the rate whose labels skip.
TEST(ArtNetOutput, SendsEveryFrameInSequenceAcrossMidnightAtItsTime) {
  const FrameRate rate = FrameRate::fps29_97DF;
  test::ReceivedTimeCodes arrivals;
  ArtNetInput input(arrivals.handler());
  input.start({"127.0.0.1", 0, 1.0});

  // Ten frames before midnight, starting now; the sender thread is counted as real-time from its first
  // pass on.
  const double origin = HostTime::now() + 0.05;
  const double start = static_cast<double>(framesPerDay(rate)) - 10.0;
  test::resetRealtimeAllocations();
  ArtNetOutput output;
  output.setClock([&] {
    test::setRealtimeThread(true);
    return test::runningClock(rate, start, origin, HostTime::now());
  });
  output.start("127.0.0.1", input.boundPort());
  ASSERT_TRUE(test::waitFor([&] { return arrivals.count >= 20; }, 5.0));
  output.stop();
  input.stop();
  EXPECT_FALSE(input.isRunning());
  EXPECT_EQ(input.stats().timecodes, arrivals.count);
  if (test::allocationCountingAvailable()) {
    EXPECT_EQ(test::realtimeAllocations(), 0u);
  }
  EXPECT_EQ(output.error(), std::nullopt);

  // Every frame once, in order, through 00:00:00;00; and each sent during its own frame, which the line
  // shows at the arrival stamp (taken on another thread, after the loopback). Judged by frames, not by
  // milliseconds: a shared machine may wake the sender late now and then, so most packets must land in
  // their frame, not all.
  std::size_t inTheirFrame = 0;
  const std::size_t count = arrivals.count;
  const std::int64_t first = arrivals.timecodes[0].timecode.frameNumber(rate);
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t frame = first + static_cast<std::int64_t>(i);
    ASSERT_EQ(arrivals.timecodes[i].timecode, Timecode::fromFrame(frame, rate)) << "packet " << i;
    ASSERT_EQ(arrivals.timecodes[i].rate, rate) << "packet " << i;
    const double shown =
        *test::runningClock(rate, start, origin, arrivals.times[i]).position(arrivals.times[i]);
    inTheirFrame += std::floor(shown) == static_cast<double>(frame) ? 1 : 0;
  }
  EXPECT_GT(inTheirFrame, count / 2) << "packets that arrived during their frame";
}

TEST(ArtNetOutput, ASendFailureIsTheOutputsErrorTheLoopKeepsTryingAndAFailedStartNamesTheAddress) {
  const double origin = HostTime::now();
  ArtNetOutput output;
  output.setClock([origin] { return test::runningClock(FrameRate::fps25, 0.0, origin, HostTime::now()); });
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
