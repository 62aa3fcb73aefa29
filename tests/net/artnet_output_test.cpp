// ArtNetOutput through the real UDP stack to an ArtNetInput, on the loopback interface only.
#include "net/artnet_output.h"

#include <gtest/gtest.h>

#include "core/host_time.h"
#include "net/artnet_input.h"
#include "tests/midi/simulated_wire.h"
#include "tests/net/received_timecodes.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

// Every rate's labels and packet types are the sender's and the packet's business (simulated in
// artnet_sender_test and artnet_timecode_test), and when each packet arrives is judged end to end in
// timecode_engine_jack_test; this run proves the loop, the socket and the input around them, at the rate
// whose labels skip. A send that fails first is kept as the output's error while the loop goes on, and a
// start that cannot open a socket leaves no loop behind.
TEST(ArtNetOutput, KeepsASendFailureAsItsErrorThenSendsEveryFrameOnceInOrderAcrossMidnight) {
  const FrameRate rate = FrameRate::fps29_97DF;
  const double start = static_cast<double>(framesPerDay(rate)) - 10.0;  // ten frames before midnight
  double origin = HostTime::now();
  ArtNetOutput output;
  // The sender thread is counted as real-time from its first pass on.
  output.setClock([&] {
    test::setRealtimeThread(true);
    return test::runningClock(rate, start, origin, HostTime::now());
  });
  output.start("127.0.0.1", 0);  // the kernel refuses every datagram to port 0
  ASSERT_TRUE(test::waitFor([&] { return output.error().has_value(); }, 5.0));
  EXPECT_EQ(output.error(), "Invalid argument");
  EXPECT_TRUE(output.isStarted());
  EXPECT_EQ(output.packetsSent(), 0u);
  EXPECT_THROW(output.start("lighting desk", 6454), std::system_error);
  EXPECT_FALSE(output.isStarted());

  test::ReceivedTimeCodes arrivals;
  ArtNetInput input(arrivals.handler());
  input.start({"127.0.0.1", 0, 1.0});
  origin = HostTime::now() + 0.05;  // no loop runs that could read it
  test::resetRealtimeAllocations();
  output.start("127.0.0.1", input.boundPort());
  ASSERT_TRUE(test::waitFor([&] { return arrivals.count >= 20; }, 5.0));
  output.stop();
  if (test::allocationCountingAvailable()) {
    EXPECT_EQ(test::realtimeAllocations(), 0u);
  }
  EXPECT_EQ(output.error(), std::nullopt);
  // Every frame once, in order, through 00:00:00;00.
  const std::size_t count = arrivals.count;
  const std::int64_t first = arrivals.timecodes[0].timecode.frameNumber(rate);
  for (std::size_t i = 0; i < count; ++i) {
    ASSERT_EQ(arrivals.timecodes[i].timecode, Timecode::fromFrame(first + static_cast<std::int64_t>(i), rate))
        << "packet " << i;
  }
  EXPECT_EQ(arrivals.timecodes[count - 1].timecode.hours, 0) << "the run did not cross midnight";
}

}  // namespace
}  // namespace quillmark
