// The LTC output on a real JACK graph, heard through the test interface's playback ports: which channels
// carry the code, at what level, and when it is silent. How it fails and reports changes is tested with
// the input's (ltc_input_test.cpp); the labels it plays and their timing by the loopback
// (ltc_loopback_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/ltc_output.h"
#include "core/generator.h"
#include "core/host_time.h"
#include "tests/support/main_queue.h"
#include "tests/support/test_client.h"

namespace quillmark::test {
namespace {

enum class ClockMode { running, standing, backwards, noPosition };

float peak(const std::vector<float>& samples) {
  float p = 0;
  for (float s : samples) p = std::max(p, std::fabs(s));
  return p;
}

TEST(LTCOutput, PlaysTheGeneratorsCodeAsAnIdenticalPairAtTheSetLevelOnlyWhileTheClockRunsForward) {
  sharedServer();
  MainQueue main;
  JackDevices devices(main.context());
  // Heard a quarter of a second after its buffers are written: the output reads the generator that far
  // ahead of the moment it asks, which a perfect source allows.
  TestClient interface("Test Interface", 0, 12000);
  interface.addAudioIn("playback_1");
  interface.addAudioIn("playback_2");
  interface.activate();
  const auto device = findDevice(devices, AudioDevice::Scope::output, "Test Interface");
  ASSERT_TRUE(device);
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", HostTime::now());
  generator.start(HostTime::now());
  std::atomic<ClockMode> mode{ClockMode::running};
  LTCOutput output(devices);
  output.clock = [&] {
    ClockSnapshot snapshot = generator.snapshot(HostTime::now());
    if (mode == ClockMode::standing) snapshot.slope = 0;
    if (mode == ClockMode::backwards) snapshot.slope = -25;
    if (mode == ClockMode::noPosition) snapshot.lastInput.reset();
    return snapshot;
  };
  // jackd carries a new connection from the next cycle on; PipeWire a cycle or two later, one connection
  // at a time. What is judged begins once the interface's two playback ports carry what they should.
  const auto settledOn = [&](bool first, bool second) {
    return waitFor(
        [&] {
          return interface.record(1024) && (peak(interface.recorded(0)) > 0) == first &&
                 (peak(interface.recorded(1)) > 0) == second;
        },
        2.0);
  };
  output.start(*device, {0, 2});
  EXPECT_EQ(output.channelsInUse(), (LTCOutput::Channels{0, 2}));
  ASSERT_TRUE(settledOn(true, true));
  ASSERT_TRUE(interface.record(24000));
  EXPECT_EQ(interface.recorded(0), interface.recorded(1));
  EXPECT_NEAR(peak(interface.recorded(0)), 0.5f, 1e-6);
  const std::vector<HeardFrame> heard = interface.decodeLTC(0);
  EXPECT_TRUE(heard.size() >= 8 && heard.front().frame.timecode.hours == 1) << heard.size() << " frames";

  // The level may change while playing; a pair from the last channel is cut to that channel.
  output.amplitude.store(0.25f);
  output.start(*device, {1, 2});
  EXPECT_EQ(output.channelsInUse(), (LTCOutput::Channels{1, 1}));
  ASSERT_TRUE(settledOn(false, true));
  output.start(*device, {7, 1});
  EXPECT_EQ(output.channelsInUse(), (LTCOutput::Channels{1, 1}));
  for (ClockMode m : {ClockMode::standing, ClockMode::backwards, ClockMode::noPosition, ClockMode::running}) {
    mode = m;
    ASSERT_TRUE(interface.record(2048));  // the cycle that read the old mode may still be recorded
    ASSERT_TRUE(interface.record(4800));
    EXPECT_EQ(peak(interface.recorded(0)), 0.0f);
    EXPECT_NEAR(peak(interface.recorded(1)), m == ClockMode::running ? 0.25f : 0.0f, 1e-6)
        << "clock mode " << static_cast<int>(m);
  }
  output.stop();
  EXPECT_FALSE(output.isRunning());
  EXPECT_EQ(output.amplitude.load(), 0.25f);  // kept across stop
}

}  // namespace
}  // namespace quillmark::test
