// The LTC input on a real JACK graph: it reads the clamped channel, stops and restarts cleanly; it and the
// LTC output name the device when they cannot open it, and report configuration changes on the main
// thread. The input's time stamps are proven by the loopback.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

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
  EXPECT_FALSE(input_.isRunning());
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

}  // namespace
}  // namespace quillmark::test
