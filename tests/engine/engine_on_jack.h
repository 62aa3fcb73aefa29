#pragma once
// EngineOnJack: a TimecodeEngine on an isolated JACK server shared by the suite, a probe client that
// counts the server's xruns and patches ports, and the steps that wire the test's clients to the engine.
// Threads: the test thread only.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "audio/audio_device.h"
#include "core/engine/timecode_engine.h"
#include "core/host_time.h"
#include "tests/engine/jack_world.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

inline void pause(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

class EngineOnJack : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = JackServer::start(); }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    engine_ = std::make_unique<TimecodeEngine>();
    probe_ = std::make_unique<TestClient>("probe", nullptr);
    probe_->activate();
  }
  void TearDown() override { engine_.reset(); }

  void selectSource(SourceKind kind, std::optional<FrameRate> forced = std::nullopt) {
    engine_->source.withLock([&](SourceKind& s) { s = kind; });
    engine_->rateOverride.withLock([&](std::optional<FrameRate>& r) { r = forced; });
    engine_->resetInput();
  }
  // Waited for (2 s at most): PipeWire shows a new client's ports to the other clients a moment after it
  // activated, jackd at once.
  static std::optional<AudioDevice> deviceNamed(AudioDevice::Scope scope, const std::string& clientName) {
    std::optional<AudioDevice> found;
    waitFor(
        [&] {
          for (const AudioDevice& device : AudioDevice::all(scope))
            if (device.uid == clientName) return found = device, true;
          return false;
        },
        2.0);
    return found;
  }
  void listenTo(const LTCPlayer& player) {
    const auto device = deviceNamed(AudioDevice::Scope::input, player.clientName());
    ASSERT_TRUE(device);
    engine_->ltcInput.start(*device, 0);
    engine_->resetInput();  // as the store does once the input has started
  }
  void listenTo(const MTCSender& desk) {
    ASSERT_TRUE(connectPorts(probe_->get(), desk.port(), virtualPort("in")));
  }
  void playInto(const AudioRecorder& recorder) {
    const auto device = deviceNamed(AudioDevice::Scope::output, recorder.clientName());
    ASSERT_TRUE(device);
    engine_->ltcOutput.start(*device, LTCOutput::Channels{0, 1});
  }
  void publishTo(const MIDIRecorder& recorder) {
    ASSERT_TRUE(connectPorts(probe_->get(), virtualPort("out"), recorder.port()));
    engine_->mtcOutput().start(engine_->ports->virtualSource());
  }
  std::string virtualPort(const std::string& direction) const {
    const std::string pattern = "^Quillmark:Virtual " + direction + "$";
    return findPort(probe_->get(), pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, 0);
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

  static inline std::unique_ptr<JackServer> server_;
  std::unique_ptr<TimecodeEngine> engine_;
  std::unique_ptr<TestClient> probe_;
};

}  // namespace quillmark::test
