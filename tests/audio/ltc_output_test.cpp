// The LTC output on a real JACK graph, heard through the test interface's playback ports: which channels
// carry the code, at what level, when it is silent, and how it fails and reports changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "audio/audio_error.h"
#include "audio/ltc_output.h"
#include "core/generator.h"
#include "core/host_time.h"
#include "ltc/ltc_decoder.h"
#include "tests/audio/main_queue.h"
#include "tests/audio/test_interface.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {
namespace {

enum class ClockMode { running, standing, backwards, noPosition };

float peak(const std::vector<float>& samples) {
  float p = 0;
  for (float s : samples) p = std::max(p, std::fabs(s));
  return p;
}

class LTCOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(interface_, nullptr);
    ASSERT_TRUE(device_);
    generator_.start(HostTime::now());
    output_.clock = [this] {
      ClockSnapshot snapshot = generator_.snapshot(HostTime::now());
      if (mode_ == ClockMode::standing) snapshot.slope = 0;
      if (mode_ == ClockMode::backwards) snapshot.slope = -25;
      if (mode_ == ClockMode::noPosition) snapshot.lastInput.reset();
      return snapshot;
    };
  }

  std::unique_ptr<JackServer> server_ = JackServer::start();
  MainQueue main_;
  std::unique_ptr<TestInterface> interface_ = TestInterface::open();
  std::optional<AudioDevice> device_ = findDevice(AudioDevice::Scope::output, "Test Interface");
  Generator generator_ = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", HostTime::now());
  std::atomic<ClockMode> mode_{ClockMode::running};
  LTCOutput output_;
};

TEST_F(LTCOutputTest, PlaysTheGeneratorsCodeAsAnIdenticalPairAtTheSetLevelOnTheChannelsThatExist) {
  // jackd carries a new connection from the next cycle on; PipeWire a cycle or two later, one connection
  // at a time. What is judged begins once the interface's two playback ports carry what they should.
  const auto settledOn = [&](bool first, bool second) {
    return waitFor(
        [&] {
          return interface_->record(1024) && (peak(interface_->recorded(0)) > 0) == first &&
                 (peak(interface_->recorded(1)) > 0) == second;
        },
        2.0);
  };
  output_.start(*device_, {0, 2});
  EXPECT_EQ(output_.channelsInUse(), (LTCOutput::Channels{0, 2}));
  ASSERT_TRUE(settledOn(true, true));
  ASSERT_TRUE(interface_->record(24000));
  EXPECT_EQ(interface_->recorded(0), interface_->recorded(1));
  EXPECT_NEAR(peak(interface_->recorded(0)), 0.5f, 1e-6);
  LTCDecoder decoder(48000);
  std::vector<Timecode> labels;
  decoder.process(interface_->recorded(0).data(), 24000, 0,
                  [&](const LTCDecoder::Frame& f) { labels.push_back(f.frame.timecode); });
  ASSERT_GE(labels.size(), 8u);
  EXPECT_EQ(labels.front().hours, 1);
  for (std::size_t i = 1; i < labels.size(); ++i) {
    EXPECT_EQ(labels[i].frameNumber(FrameRate::fps25), labels[i - 1].frameNumber(FrameRate::fps25) + 1);
  }

  // The level may change while playing; a pair from the last channel is cut to that channel.
  output_.amplitude.withLock([](float& a) { a = 0.25f; });
  output_.start(*device_, {1, 2});
  EXPECT_EQ(output_.channelsInUse(), (LTCOutput::Channels{1, 1}));
  ASSERT_TRUE(settledOn(false, true));
  ASSERT_TRUE(interface_->record(4800));
  EXPECT_EQ(peak(interface_->recorded(0)), 0.0f);
  EXPECT_NEAR(peak(interface_->recorded(1)), 0.25f, 1e-6);
  output_.start(*device_, {7, 1});
  EXPECT_EQ(output_.channelsInUse(), (LTCOutput::Channels{1, 1}));
  output_.stop();
  EXPECT_FALSE(output_.isRunning());
  EXPECT_EQ(output_.amplitude.read(), 0.25f);  // kept across stop
}

// A device heard a quarter of a second after its buffers are written: the output reads the generator that
// far ahead of the moment it asks, which a perfect source allows.
TEST_F(LTCOutputTest, PlaysTheGeneratorOnADeviceWithAQuarterSecondOfPlaybackLatency) {
  TestInterfaceOptions options;
  options.name = "Late Interface";
  options.playbackLatency = 12000;
  const std::unique_ptr<TestInterface> late = TestInterface::open(options);
  ASSERT_NE(late, nullptr);
  const std::optional<AudioDevice> device = findDevice(AudioDevice::Scope::output, "Late Interface");
  ASSERT_TRUE(device);
  output_.start(*device, {0, 1});
  ASSERT_TRUE(late->record(24000));
  LTCDecoder decoder(48000);
  int frames = 0;
  decoder.process(late->recorded(0).data(), 24000, 0, [&](const LTCDecoder::Frame&) { ++frames; });
  EXPECT_GE(frames, 10);
}

TEST_F(LTCOutputTest, IsSilentUnlessTheClockRunsForwardWithAPosition) {
  output_.start(*device_, {0, 2});
  for (ClockMode mode :
       {ClockMode::standing, ClockMode::backwards, ClockMode::noPosition, ClockMode::running}) {
    mode_ = mode;
    ASSERT_TRUE(interface_->record(2048));  // the cycle that read the old mode may still be recorded
    ASSERT_TRUE(interface_->record(4800));
    const float expected = mode == ClockMode::running ? 0.5f : 0.0f;
    EXPECT_NEAR(peak(interface_->recorded(0)), expected, 1e-6) << static_cast<int>(mode);
    EXPECT_NEAR(peak(interface_->recorded(1)), expected, 1e-6) << static_cast<int>(mode);
  }
}

TEST_F(LTCOutputTest, ReportsAShutdownOnTheMainThreadAndThenCannotStart) {
  std::thread::id thread;
  output_.onConfigurationChange = [&] { thread = std::this_thread::get_id(); };
  output_.start(*device_, {0, 1});
  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  // PipeWire's libjack tells its clients nothing when the daemon goes; the application's server watch
  // notices instead (it polls PipeWire's socket).
  if (!JackServer::onPipeWire()) {
    ASSERT_TRUE(main_.drainUntil([&] { return thread == std::this_thread::get_id(); }));
  }
  try {
    output_.start(*device_, {0, 1});
    ADD_FAILURE() << "started without a server";
  } catch (const AudioError& error) {
    EXPECT_EQ(error.description(),
              "Test Interface can't be opened. Is it connected, and not in use exclusively by another app?");
  }
  EXPECT_FALSE(output_.isRunning());
}

}  // namespace
}  // namespace quillmark::test
