// The LTC input on a real JACK graph: it reads the clamped channel, stops and restarts cleanly, names the
// device when it cannot open it, and reports configuration changes on the main thread. Its time stamps are
// proven by the loopback.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "audio/audio_error.h"
#include "audio/ltc_input.h"
#include "tests/audio/frame_log.h"
#include "tests/audio/main_queue.h"
#include "tests/audio/test_interface.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {
namespace {

constexpr double kHour = 90000;  // frames per hour at 25 fps
const std::string kUnavailable =
    "Test Interface can't be opened. Is it connected, and not in use exclusively by another app?";

class LTCInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // LTC from 01:00:00:00 on the first capture port and from 02:00:00:00 on the last.
    interface_ = TestInterface::open({.ltc = {{0, kHour}, {3, 2 * kHour}}});
    ASSERT_NE(interface_, nullptr);
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

  std::unique_ptr<JackServer> server_ = JackServer::start();
  MainQueue main_;
  JackDevices devices_{main_.context()};
  std::unique_ptr<TestInterface> interface_;
  std::optional<AudioDevice> device_;
  std::unique_ptr<FrameLog> log_ = std::make_unique<FrameLog>();
  LTCInput input_{devices_};
};

TEST_F(LTCInputTest, ReadsTheClampedChannelAndRestartsWithOneConnection) {
  ASSERT_TRUE(capture(5, 10));
  EXPECT_EQ(input_.channelInUse(), 3);
  EXPECT_EQ(log_->at(0).frame.frame.timecode.hours, 2);

  ASSERT_TRUE(capture(-1, 5));  // started twice in a row
  ASSERT_TRUE(capture(-1, 10));
  EXPECT_EQ(input_.channelInUse(), 0);
  for (std::size_t i = 0; i < log_->count(); ++i) {
    const auto& frame = log_->at(i).frame;
    EXPECT_EQ(frame.frame.timecode.hours, 1);
    EXPECT_FALSE(frame.reverse);
    EXPECT_NEAR(frame.duration, 0.04, 0.0004);
    if (i > 0) {
      EXPECT_EQ(frame.frame.timecode.frameNumber(FrameRate::fps25),
                log_->at(i - 1).frame.frame.timecode.frameNumber(FrameRate::fps25) + 1);
    }
  }
  EXPECT_NEAR(input_.level(), 0.5, 0.05);
  jack_port_t* source = jack_port_by_name(interface_->client(), "Test Interface:capture_1");
  const char** connections = jack_port_get_all_connections(interface_->client(), source);
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

TEST_F(LTCInputTest, NamesTheDeviceWhenItCannotBeOpened) {
  interface_.reset();  // unplugged
  try {
    input_.start(*device_, 0);
    ADD_FAILURE() << "started on a device that is gone";
  } catch (const AudioError& error) {
    EXPECT_EQ(error.description(), kUnavailable);
  }
  EXPECT_THROW(input_.start(AudioDevice{9999, "Elsewhere", "Elsewhere", 2}, 0), AudioError);

  interface_ = TestInterface::open();
  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  try {
    input_.start(*device_, 0);
    ADD_FAILURE() << "started without a server";
  } catch (const AudioError& error) {
    EXPECT_EQ(error.description(), kUnavailable);
  }
  EXPECT_FALSE(input_.isRunning());
}

TEST_F(LTCInputTest, ReportsANewBufferSizeAndAServerShutdownOnTheMainThread) {
  int calls = 0;
  std::thread::id thread;
  input_.onConfigurationChange = [&] {
    ++calls;
    thread = std::this_thread::get_id();
  };
  ASSERT_TRUE(capture(0, 2));
  main_.drainUntil([] { return false; }, 0.2);
  EXPECT_EQ(calls, 0);  // JACK's notices at activation are not changes

  ASSERT_EQ(jack_set_buffer_size(interface_->client(), 512), 0);
  ASSERT_TRUE(main_.drainUntil([&] { return calls == 1; }));
  EXPECT_EQ(thread, std::this_thread::get_id());

  // The owner restarts; the new run reports the server going away.
  ASSERT_TRUE(capture(0, 2));
  server_->stop();
  ASSERT_TRUE(main_.drainUntil([&] { return calls == 2; }));
  input_.stop();
  main_.drainUntil([] { return false; }, 0.2);
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quillmark::test
