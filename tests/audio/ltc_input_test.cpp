// The LTC input on a real JACK graph: it reads the clamped channel, stamps frames on the host clock, stops
// and restarts cleanly, names the device when it cannot open it, and reports configuration changes on the
// main thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "audio/audio_device.h"
#include "audio/audio_error.h"
#include "audio/ltc_input.h"
#include "tests/audio/frame_log.h"
#include "tests/audio/main_queue.h"
#include "tests/audio/test_interface.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {
namespace {

constexpr double kHour = 90000;  // frames per hour at 25 fps

class LTCInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = JackServer::start();
    // LTC from 01:00:00:00 on the first capture port and from 02:00:00:00 on the last.
    TestInterfaceOptions options;
    options.ltc = {{0, FrameRate::fps25, kHour}, {3, FrameRate::fps25, 2 * kHour}};
    interface_ = TestInterface::open(options);
    ASSERT_NE(interface_, nullptr);
    device_ = device("Test Interface");
    ASSERT_TRUE(device_);
    input_.onFrame = [this](const LTCInput::TimedFrame& frame) { log_->add(frame, 0); };
  }

  static std::optional<AudioDevice> device(const std::string& uid) {
    for (const auto& d : AudioDevice::all(AudioDevice::Scope::input)) {
      if (d.uid == uid) return d;
    }
    return std::nullopt;
  }

  // Starts afresh and waits for `frames` frames.
  bool capture(int channel, std::size_t frames) {
    input_.stop();
    log_ = std::make_unique<FrameLog>();
    input_.start(*device_, channel);
    return waitFor([&] { return log_->count() >= frames; }, 10);
  }

  std::unique_ptr<JackServer> server_;
  MainQueue main_;
  std::unique_ptr<TestInterface> interface_;
  std::optional<AudioDevice> device_;
  std::unique_ptr<FrameLog> log_ = std::make_unique<FrameLog>();
  LTCInput input_;
};

TEST_F(LTCInputTest, ReadsTheChannelClampedToTheDevice) {
  ASSERT_TRUE(capture(5, 10));
  EXPECT_EQ(input_.channelInUse(), 3);
  EXPECT_EQ(log_->at(0).frame.frame.timecode.hours, 2);

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
}

TEST_F(LTCInputTest, StampsFramesOnTheHostClockBeforeTheyAreDelivered) {
  ASSERT_TRUE(capture(0, 25));
  // A frame is delivered in the cycle that holds its last bit: at least its 40 ms less one 21 ms period
  // after its start (the cycle's samples are all there when it begins), at most a period more, with room
  // for the VM's stalls. An unconverted JACK time (jackd2 counts CLOCK_MONOTONIC_RAW, 185 ms away here)
  // falls far outside.
  std::vector<double> delays;
  for (std::size_t i = 0; i < log_->count(); ++i) {
    delays.push_back(log_->at(i).receivedAt - log_->at(i).frame.time);
  }
  std::sort(delays.begin(), delays.end());
  EXPECT_GT(delays.front(), 0.015);
  EXPECT_LT(delays[delays.size() / 2], 0.04 + 0.03);
}

TEST_F(LTCInputTest, StopsCleanlyAndRestartsWithOneConnection) {
  ASSERT_TRUE(capture(0, 5));
  ASSERT_TRUE(capture(0, 5));  // started twice in a row
  jack_port_t* source = jack_port_by_name(interface_->client(), "Test Interface:capture_1");
  ASSERT_NE(source, nullptr);
  const char** connections = jack_port_get_all_connections(interface_->client(), source);
  ASSERT_NE(connections, nullptr);
  int count = 0;
  while (connections[count]) ++count;
  EXPECT_EQ(count, 1);
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
  const std::string expected =
      "Test Interface can't be opened. Is it connected, and not in use exclusively by another app?";
  interface_.reset();  // unplugged
  try {
    input_.start(*device_, 0);
    FAIL() << "started on a device that is gone";
  } catch (const AudioError& error) {
    EXPECT_EQ(error.kind(), AudioError::Kind::deviceUnavailable);
    EXPECT_EQ(error.description(), expected);
  }
  EXPECT_FALSE(input_.isRunning());

  AudioDevice unknown{9999, "Elsewhere", "Elsewhere", 2};
  EXPECT_THROW(input_.start(unknown, 0), AudioError);

  TestInterfaceOptions options;
  options.ltc = {{0, FrameRate::fps25, kHour}};
  interface_ = TestInterface::open(options);
  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  try {
    input_.start(*device_, 0);
    FAIL() << "started without a server";
  } catch (const AudioError& error) {
    EXPECT_EQ(error.description(), expected);
  }
  EXPECT_FALSE(input_.isRunning());
  EXPECT_EQ(AudioError::permissionDenied().description(),
            "Allow Quillmark under System Settings \u2192 Privacy & Security \u2192 Microphone to read LTC.");
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
  ASSERT_TRUE(main_.drainUntil([&] { return calls == 1; }, 5));
  EXPECT_EQ(thread, std::this_thread::get_id());

  // The owner restarts; the new run reports the server going away.
  ASSERT_TRUE(capture(0, 2));
  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  ASSERT_TRUE(main_.drainUntil([&] { return calls == 2; }, 5));
  input_.stop();
  main_.drainUntil([] { return false; }, 0.2);
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quillmark::test
