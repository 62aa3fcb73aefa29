// The LTC output on a real JACK graph, heard through the test interface's playback ports: which channels
// carry the code, at what level, and when it is silent. How it fails and reports changes is tested with
// the input's (ltc_input_test.cpp).
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

class LTCOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Heard a quarter of a second after its buffers are written: the output reads the generator that far
    // ahead of the moment it asks, which a perfect source allows.
    interface_ = std::make_unique<TestClient>("Test Interface", 0, 12000);
    interface_->addAudioIn("playback_1");
    interface_->addAudioIn("playback_2");
    interface_->activate();
    device_ = findDevice(devices_, AudioDevice::Scope::output, "Test Interface");
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

  JackServer& server_ = sharedServer();
  MainQueue main_;
  JackDevices devices_{main_.context()};
  std::unique_ptr<TestClient> interface_;
  std::optional<AudioDevice> device_;
  Generator generator_ = Generator::fromSettings(FrameRate::fps25, false, "01:00:00:00", HostTime::now());
  std::atomic<ClockMode> mode_{ClockMode::running};
  LTCOutput output_{devices_};
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
  const std::vector<HeardFrame> heard = interface_->decodeLTC(0);
  ASSERT_GE(heard.size(), 8u);
  EXPECT_EQ(heard.front().frame.timecode.hours, 1);
  for (std::size_t i = 1; i < heard.size(); ++i) {
    EXPECT_EQ(heard[i].frame.timecode.frameNumber(FrameRate::fps25),
              heard[i - 1].frame.timecode.frameNumber(FrameRate::fps25) + 1);
  }

  // The level may change while playing; a pair from the last channel is cut to that channel.
  output_.amplitude.store(0.25f);
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
  EXPECT_EQ(output_.amplitude.load(), 0.25f);  // kept across stop
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

}  // namespace
}  // namespace quillmark::test
