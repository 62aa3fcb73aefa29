// ArtNetOutput through the real UDP stack to an ArtNetInput, on the loopback interface only.
#include "net/artnet_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <vector>

#include "core/host_time.h"
#include "net/artnet_input.h"
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
  double due(std::int64_t frame) const {
    return origin + (static_cast<double>(frame) - start) / realFramesPerSecond(rate);
  }
};

struct Arrivals {
  std::array<ArtNet::ReceivedTimeCode, 512> packets;
  std::array<double, 512> times;
  std::atomic<std::size_t> count{0};
};

TEST(ArtNetOutput, SendsEveryFrameInSequenceAcrossMidnightAtItsTime) {
  for (const FrameRate rate : kAllFrameRates) {
    Arrivals arrivals;
    ArtNetInput input([&](const ArtNet::ReceivedTimeCode& packet, double at) {
      const std::size_t i = arrivals.count.load();
      if (i == arrivals.packets.size()) return;
      arrivals.packets[i] = packet;
      arrivals.times[i] = at;
      arrivals.count.store(i + 1);
    });
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
    if (test::allocationCountingAvailable()) {
      EXPECT_EQ(test::realtimeAllocations(), 0u);
    }
    EXPECT_EQ(output.error(), std::nullopt);

    // Every frame once, in order, through 00:00:00:00; each sent at its due time, which the arrival
    // stamps (taken on another thread, after the loopback) can only follow.
    std::vector<double> lateness;
    const std::size_t count = arrivals.count;
    const std::int64_t first = arrivals.packets[0].timecode.frameNumber(rate);
    for (std::size_t i = 0; i < count; ++i) {
      const std::int64_t frame = first + static_cast<std::int64_t>(i);
      ASSERT_EQ(arrivals.packets[i].timecode, Timecode::fromFrame(frame, rate)) << rawValue(rate) << " " << i;
      ASSERT_EQ(arrivals.packets[i].rate, rate == FrameRate::fps23_976    ? FrameRate::fps24
                                          : rate == FrameRate::fps29_97ND ? FrameRate::fps30
                                                                          : rate);
      if (i > 0) lateness.push_back(arrivals.times[i] - line.due(frame));
    }
    // This machine is shared: judge the typical packet, not the worst wake-up.
    std::sort(lateness.begin(), lateness.end());
    const double median = lateness[lateness.size() / 2];
    EXPECT_GT(median, -1e-4) << rawValue(rate);
    EXPECT_LT(median, 1e-3) << rawValue(rate) << ": median arrival after the due time";
  }
}

TEST(ArtNetOutput, ASendFailureIsTheOutputsErrorAndTheLoopKeepsTrying) {
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

  ArtNetInput input([](const ArtNet::ReceivedTimeCode&, double) {});
  input.start({"127.0.0.1", 0, 1.0});
  output.start("127.0.0.1", input.boundPort());
  ASSERT_TRUE(test::waitFor([&] { return output.packetsSent() >= 3; }, 5.0));
  EXPECT_EQ(output.error(), std::nullopt);
}

}  // namespace
}  // namespace quillmark
