#pragma once
// TestInterface: a JACK client that plays the part of an audio interface for the audio tests. Its output
// ports are the capture side (what an input device offers), its input ports the playback side. It can
// play LTC on a capture port, record what arrives on its playback ports, and loop the playback side back
// to the capture side through a delay of playbackLatency + captureLatency samples while declaring those
// latencies on its ports, as a real interface with a cable from its output to its input would. It counts
// xruns so timing tests can judge only clean stretches.
// Threads: create, read and destroy on the test thread; the process callback runs on JACK's thread.

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_device.h"
#include "audio/jack_devices.h"
#include "core/frame_rate.h"
#include "jack/jack_buffer_access.h"
#include "ltc/ltc_encoder.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

// The listed device `uid`, waited for (2 s at most): PipeWire shows a new client's ports to the other
// clients a moment after it activated, jackd at once.
inline std::optional<AudioDevice> findDevice(JackDevices& devices, AudioDevice::Scope scope,
                                             const std::string& uid) {
  std::optional<AudioDevice> found;
  waitFor(
      [&] {
        for (const auto& d : devices.list(scope))
          if (d.uid == uid) return found = d, true;
        return false;
      },
      2.0);
  return found;
}
// Whether `uid` is (or, waited for, becomes) absent from the list.
inline bool deviceGone(JackDevices& devices, AudioDevice::Scope scope, const std::string& uid) {
  return waitFor(
      [&] {
        const auto all = devices.list(scope);
        return std::none_of(all.begin(), all.end(), [&](const AudioDevice& d) { return d.uid == uid; });
      },
      2.0);
}

struct TestInterfaceOptions {
  std::string name = "Test Interface";
  int capturePorts = 4;   // audio output ports: the channels of an input device
  int playbackPorts = 2;  // audio input ports: the channels of an output device
  jack_nframes_t playbackLatency = 0;
  jack_nframes_t captureLatency = 0;
  bool loopback = false;  // capture port k carries playback port k, delayed; the others are silent
  struct LTCSource {
    int port = 0;
    double startFrame = 0;  // at 25 fps
  };
  std::vector<LTCSource> ltc;  // capture ports that play LTC from the first cycle on
};

class TestInterface {
 public:
  // Opens and activates the client; nullptr when it cannot.
  static std::unique_ptr<TestInterface> open(TestInterfaceOptions options = {}) {
    std::unique_ptr<TestInterface> ti(new TestInterface());
    ti->o_ = std::move(options);
    ti->client_ = jack_client_open(ti->o_.name.c_str(), JackNoStartServer, nullptr);
    if (!ti->client_) return nullptr;
    for (int i = 0; i < ti->o_.capturePorts; ++i)
      ti->capture_.push_back(ti->port("capture_", i, JackPortIsOutput));
    for (int i = 0; i < ti->o_.playbackPorts; ++i)
      ti->playback_.push_back(ti->port("playback_", i, JackPortIsInput));
    for (std::size_t i = 0; i < ti->o_.ltc.size(); ++i) {
      ti->encoders_.push_back(std::make_unique<LTCEncoder>(jack_get_sample_rate(ti->client_)));
      ti->encoders_.back()->setRate(FrameRate::fps25);
    }
    const std::size_t delay = ti->o_.playbackLatency + ti->o_.captureLatency;
    ti->delayLines_.assign(ti->o_.playbackPorts, std::vector<float>(std::max<std::size_t>(delay, 1)));
    ti->recordings_.assign(ti->o_.playbackPorts, {});
    jack_set_process_callback(ti->client_, process, ti.get());
    jack_set_latency_callback(ti->client_, latency, ti.get());
    jack_set_xrun_callback(
        ti->client_, [](void* self) { return static_cast<TestInterface*>(self)->xruns_++, 0; }, ti.get());
    jack_on_info_shutdown(
        ti->client_,
        [](jack_status_t, const char*, void* self) { static_cast<TestInterface*>(self)->serverGone_ = true; },
        ti.get());
    if (jack_activate(ti->client_) != 0) return nullptr;
    return ti;
  }
  ~TestInterface() {
    // Abandoned like Quillmark's own clients once the server is gone: wait for a cycle still running as
    // it went, so the encoders and recordings are not freed under it (see JackClient).
    if (client_ && !serverGone_) jack_client_close(client_);
    waitFor([&] { return !inCycle_.load(); }, 0.5);
  }

  jack_client_t* client() const { return client_; }
  int xruns() const { return xruns_.load(); }

  // Records `frames` samples of every playback port from the next cycle on; true when done in time.
  bool record(jack_nframes_t frames) {
    for (auto& r : recordings_) r.assign(frames, 0.0f);
    recorded_ = 0;
    recording_.store(true);
    return waitFor([&] { return !recording_.load(); }, 10);
  }
  const std::vector<float>& recorded(int playbackPort) const { return recordings_[playbackPort]; }

 private:
  TestInterface() = default;

  jack_port_t* port(const char* prefix, int i, unsigned long flags) {
    const std::string name = prefix + std::to_string(i + 1);
    return jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags | JackPortIsTerminal, 0);
  }

  static int process(jack_nframes_t frames, void* self) {
    auto& ti = *static_cast<TestInterface*>(self);
    ti.inCycle_.store(true);
    ti.cycle(frames);
    ti.inCycle_.store(false);  // publishes the cycle to the destructor
    return 0;
  }

  void cycle(jack_nframes_t frames) {
    JackBufferAccess inputs[2];  // held to the end of the cycle: the outputs below copy from them
    for (int p = 0; p < o_.playbackPorts && p < 2; ++p) inputs[p].reset(playback_[p], frames);
    if (recording_.load()) {
      const std::size_t n = std::min<std::size_t>(frames, recordings_[0].size() - recorded_);
      for (int p = 0; p < o_.playbackPorts; ++p)
        std::memcpy(recordings_[p].data() + recorded_, inputs[p].samples(), n * sizeof(float));
      recorded_ += n;
      if (recorded_ == recordings_[0].size()) recording_.store(false);
    }
    const std::size_t delay = delayLines_.empty() ? 1 : delayLines_[0].size();
    for (int c = 0; c < o_.capturePorts; ++c) {
      const JackBufferAccess output(capture_[c], frames);
      float* out = output.samples();
      std::memset(out, 0, frames * sizeof(float));
      if (!o_.loopback || c >= o_.playbackPorts) continue;
      auto& line = delayLines_[c];
      const float* in = inputs[c].samples();
      for (jack_nframes_t i = 0; i < frames; ++i) {
        const std::size_t slot = (delayIndex_ + i) % delay;
        out[i] = line[slot];
        line[slot] = in[i];
      }
    }
    for (std::size_t s = 0; s < o_.ltc.size(); ++s) {
      const double step = 25.0 / jack_get_sample_rate(client_);
      encoders_[s]->render(JackBufferAccess(capture_[o_.ltc[s].port], frames).samples(), frames,
                           o_.ltc[s].startFrame + static_cast<double>(samplesPlayed_) * step, step);
    }
    delayIndex_ = (delayIndex_ + frames) % delay;
    samplesPlayed_ += frames;
  }

  static void latency(jack_latency_callback_mode_t mode, void* self) {
    auto& ti = *static_cast<TestInterface*>(self);
    const bool capture = mode == JackCaptureLatency;
    const jack_nframes_t n = capture ? ti.o_.captureLatency : ti.o_.playbackLatency;
    jack_latency_range_t range{n, n};
    for (auto* port : capture ? ti.capture_ : ti.playback_) jack_port_set_latency_range(port, mode, &range);
  }

  TestInterfaceOptions o_;
  jack_client_t* client_ = nullptr;
  std::vector<jack_port_t*> capture_, playback_;
  std::vector<std::unique_ptr<LTCEncoder>> encoders_;  // per LTC source
  std::vector<std::vector<float>> delayLines_;         // per playback port
  std::size_t delayIndex_ = 0;
  std::int64_t samplesPlayed_ = 0;
  std::vector<std::vector<float>> recordings_;
  std::atomic<bool> recording_{false};
  std::size_t recorded_ = 0;
  std::atomic<int> xruns_{0};
  std::atomic<bool> serverGone_{false};  // then the client is abandoned, not closed (see JackClient)
  std::atomic<bool> inCycle_{false};     // true while the process thread is in cycle()
};

}  // namespace quillmark::test
