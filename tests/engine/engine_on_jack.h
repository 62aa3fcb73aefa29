#pragma once
// EngineOnJack: a TimecodeEngine on the test process's isolated JACK server, a probe client that
// counts the server's xruns and patches ports, the steps that wire the test's clients to the engine, and
// what those clients heard of its outputs.
// Threads: the test thread only.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "audio/audio_device.h"
#include "audio/jack_devices.h"
#include "core/host_time.h"
#include "engine/timecode_engine.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

inline void pause(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// What the desk heard of MTC out and the recorder of LTC out.
struct Heard {
  std::vector<MidiEvent> messages;
  std::vector<std::pair<MTCDecoder::Event, std::size_t>> events;
  std::vector<HeardFrame> frames;
};

class EngineOnJack : public ::testing::Test {
 protected:
  void SetUp() override {
    sharedServer();
    engine_ = std::make_unique<TimecodeEngine>(devices_);
    probe_ = std::make_unique<TestClient>("probe");
    probe_->activate();
  }
  void TearDown() override { engine_.reset(); }

  void selectSource(SourceKind kind, std::optional<FrameRate> forced = std::nullopt) {
    engine_->source.store(kind);
    engine_->rateOverride.store(forced);
    engine_->resetInput();
  }
  void listenToLTC(const TestClient& player) {
    const auto device = findDevice(devices_, AudioDevice::Scope::input, player.name());
    ASSERT_TRUE(device);
    engine_->ltcInput.start(*device, 0);
    engine_->resetInput();  // as the store does once the input has started
  }
  void listenToMTC(const TestClient& desk) {
    ASSERT_TRUE(connectPorts(probe_->get(), desk.port(), virtualPort("in")));
  }
  void playInto(const TestClient& recorder) {
    const auto device = findDevice(devices_, AudioDevice::Scope::output, recorder.name());
    ASSERT_TRUE(device);
    engine_->ltcOutput.start(*device, LTCOutput::Channels{0, 1});
  }
  void publishTo(const TestClient& recorder) {
    ASSERT_TRUE(connectPorts(probe_->get(), virtualPort("out"), recorder.port()));
    engine_->mtcOutput().start(engine_->ports->virtualSource());
  }
  std::string virtualPort(const std::string& direction) const {
    const std::string pattern = "^Quillmark:Virtual " + direction + "$";
    return findPort(probe_->get(), pattern, JACK_DEFAULT_MIDI_TYPE, 0);
  }
  // Stops the engine's inputs and outputs and takes what the desk and the recorder heard.
  Heard stopAndCollect(const TestClient& desk, const TestClient& recorder) {
    engine_->mtcOutput().stop();
    engine_->ltcOutput.stop();
    engine_->ltcInput.stop();
    engine_->artnetInput.stop();
    return {desk.received(), desk.mtcEvents(), recorder.decodeLTC()};
  }
  bool waitForLock(double seconds) {
    return waitFor(
        [&] {
          const double now = HostTime::now();
          return engine_->snapshot(now).state(now) == TimecodeClock::State::locked;
        },
        seconds);
  }

  // An xrun drops a cycle of a player or recorder, which changes the speed of what it plays or the times
  // of what it hears: such a run proves nothing either way. So `run` is repeated, at most three times,
  // until one had no xrun in the stretch it judges, which begins where it calls the function it is given
  // (so the xrun JACK may report as clients activate does not count); false when every run had one.
  template <typename Run>
  bool runWithoutXruns(Run run) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      int before = probe_->xruns();
      run([&] { before = probe_->xruns(); });
      if (probe_->xruns() == before) return true;
    }
    return false;
  }

  JackDevices devices_{JackContext{}};  // no main loop here: the engine's notices are dropped
  std::unique_ptr<TimecodeEngine> engine_;
  std::unique_ptr<TestClient> probe_;
};

}  // namespace quillmark::test
