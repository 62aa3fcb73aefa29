// The LTC input and output on a real JACK graph. The input reads the clamped channel, stops and restarts
// cleanly; the output plays the code as an identical pair at the set level on the channels that exist, and
// only while the clock runs forward; both name the device when they cannot open it and report
// configuration changes on the main thread. The labels, their order and their time stamps are the
// loopback's to prove (ltc_loopback_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "audio/audio_error.h"
#include "audio/ltc_input.h"
#include "audio/ltc_output.h"
#include "core/generator.h"
#include "core/host_time.h"
#include "tests/audio/frame_log.h"
#include "tests/support/jack_server.h"
#include "tests/support/main_queue.h"
#include "tests/support/test_client.h"

namespace quillmark::test {
namespace {

constexpr double kHour = 90000;  // frames per hour at 25 fps

// Starting must fail with the message that names the device.
template <class Start>
void expectUnavailable(Start start, const char* what) {
  try {
    start();
    ADD_FAILURE() << what << ": started";
  } catch (const AudioError& error) {
    EXPECT_EQ(error.description(),
              "Test Interface can't be opened. Is it connected, and not in use exclusively by another app?")
        << what;
  }
}

// LTC from 01:00:00:00 on the first capture port and from 02:00:00:00 on the last.
std::unique_ptr<TestClient> openInterface() {
  auto client = std::make_unique<TestClient>("Test Interface");
  client->playLTC("capture_1", FrameRate::fps25, kHour, 25.0);
  client->addAudioOut("capture_2");
  client->addAudioOut("capture_3");
  client->playLTC("capture_4", FrameRate::fps25, 2 * kHour, 25.0);
  client->addAudioIn("playback_1");
  client->activate();
  return client;
}

class LTCInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    interface_ = openInterface();
    device_ = findDevice(devices_, AudioDevice::Scope::input, "Test Interface");
    ASSERT_TRUE(device_);
    input_.onFrame = [this](const LTCInput::TimedFrame& frame) { log_->add(frame, 0); };
  }

  // Starts afresh and waits for `frames` frames.
  bool capture(int channel, std::size_t frames) {
    input_.stop();
    log_ = std::make_unique<FrameLog>();
    input_.start(*device_, channel);
    return waitFor([&] { return log_->count() >= frames; }, 10);
  }

  JackServer& server_ = sharedServer();
  MainQueue main_;
  JackDevices devices_{main_.context()};
  std::unique_ptr<TestClient> interface_;
  std::optional<AudioDevice> device_;
  std::unique_ptr<FrameLog> log_ = std::make_unique<FrameLog>();
  LTCInput input_{devices_};
  std::thread::id thread_ = std::this_thread::get_id();
};

TEST_F(LTCInputTest, ReadsTheClampedChannelAndRestartsWithOneConnection) {
  ASSERT_TRUE(capture(5, 10));
  EXPECT_EQ(input_.channelInUse(), 3);
  EXPECT_EQ(log_->at(0).frame.frame.timecode.hours, 2);

  ASSERT_TRUE(capture(-1, 5));  // started twice in a row
  ASSERT_TRUE(capture(-1, 10));
  EXPECT_EQ(input_.channelInUse(), 0);
  EXPECT_EQ(log_->at(0).frame.frame.timecode.hours, 1);  // order, stamps and lengths: the loopback's
  EXPECT_NEAR(input_.level(), 0.5, 0.05);
  jack_port_t* source = jack_port_by_name(interface_->get(), "Test Interface:capture_1");
  const char** connections = jack_port_get_all_connections(interface_->get(), source);
  ASSERT_NE(connections, nullptr);
  EXPECT_EQ(connections[1], nullptr) << "one connection after a restart";
  jack_free(connections);

  input_.stop();
  EXPECT_EQ(input_.level(), 0.0f);
  EXPECT_EQ(input_.errors(), 0);
  const std::size_t frames = log_->count();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(log_->count(), frames);
  input_.stop();  // stopping twice is harmless
}

// Both streams: JACK's notices at activation are not changes; a new buffer size and a server going away
// are, each reported once on the main thread; and a device they cannot open is named.
TEST_F(LTCInputTest, InputAndOutputReportChangesOnTheMainThreadAndNameTheDeviceTheyCannotOpen) {
  LTCOutput output(devices_);
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", HostTime::now());
  output.clock = [&] { return generator.snapshot(HostTime::now()); };
  const auto outputDevice = findDevice(devices_, AudioDevice::Scope::output, "Test Interface");
  ASSERT_TRUE(outputDevice);
  int inputCalls = 0, outputCalls = 0;
  bool offMain = false;
  const auto counting = [&](int& calls) {
    return [&] {
      ++calls;
      offMain = offMain || thread_ != std::this_thread::get_id();
    };
  };
  input_.onConfigurationChange = counting(inputCalls);
  output.onConfigurationChange = counting(outputCalls);
  ASSERT_TRUE(capture(0, 2));
  output.start(*outputDevice, {0, 1});
  main_.drainUntil([] { return false; }, 0.2);
  EXPECT_EQ(inputCalls + outputCalls, 0);

  ASSERT_EQ(jack_set_buffer_size(interface_->get(), 512), 0);
  ASSERT_TRUE(main_.drainUntil([&] { return inputCalls == 1 && outputCalls == 1; }));

  // The owners restart; the new runs report the server going away. PipeWire's libjack tells its clients
  // nothing when the daemon goes (the application's server watch notices instead, by PipeWire's socket).
  ASSERT_TRUE(capture(0, 2));
  output.start(*outputDevice, {0, 1});
  server_.stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  interface_->abandon();
  ASSERT_TRUE(
      main_.drainUntil([&] { return inputCalls == 2 && (JackServer::onPipeWire() || outputCalls == 2); }));
  input_.stop();
  main_.drainUntil([] { return false; }, 0.2);
  EXPECT_EQ(inputCalls, 2);
  EXPECT_FALSE(offMain);
  expectUnavailable([&] { input_.start(*device_, 0); }, "input without a server");
  expectUnavailable([&] { output.start(*outputDevice, {0, 1}); }, "output without a server");
  EXPECT_FALSE(input_.isRunning() || output.isRunning());

  server_.restart();
  interface_.reset();  // unplugged
  expectUnavailable([&] { input_.start(*device_, 0); }, "input on a device that is gone");
  EXPECT_THROW(input_.start(AudioDevice{9999, "Elsewhere", "Elsewhere", 2}, 0), AudioError);
}

enum class ClockMode { running, standing, backwards, noPosition };
const char* const kModeNames[] = {"running", "standing", "running backwards", "without a position"};

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
        << "clock " << kModeNames[static_cast<int>(m)];
  }
}

}  // namespace
}  // namespace quillmark::test
