#pragma once
// TestInterface: a JACK client that plays the part of an audio interface for the audio tests. Its output
// ports are the capture side (what an input device offers), its input ports the playback side. It can
// play LTC on a capture port, record what arrives on its playback ports, and loop the playback side back
// to the capture side through a delay of playbackLatency + captureLatency samples while declaring those
// latencies on its ports, as a real interface with a cable from its output to its input would. It counts
// xruns so timing tests can judge only clean stretches.
// Threads: create, read and destroy on the test thread; the process callback runs on JACK's thread.

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/frame_rate.h"
#include "ltc/ltc_encoder.h"

namespace quillmark::test {

struct TestInterfaceOptions {
  std::string name = "Test Interface";
  int capturePorts = 4;   // audio output ports: the channels of an input device
  int playbackPorts = 2;  // audio input ports: the channels of an output device
  jack_nframes_t playbackLatency = 0;
  jack_nframes_t captureLatency = 0;
  bool loopback = false;  // capture port k carries playback port k, delayed; the others are silent
  struct LTCSource {
    int port = 0;
    FrameRate rate = FrameRate::fps25;
    double startFrame = 0;
  };
  std::vector<LTCSource> ltc;  // capture ports that play LTC from the first cycle on
};

class TestInterface {
 public:
  // Opens and activates the client; nullptr when it cannot.
  static std::unique_ptr<TestInterface> open(TestInterfaceOptions options = {});
  ~TestInterface();
  TestInterface(const TestInterface&) = delete;
  TestInterface& operator=(const TestInterface&) = delete;

  jack_client_t* client() const { return client_; }
  const std::string& name() const { return name_; }
  int xruns() const { return xruns_.load(); }

  // Records `frames` samples of every playback port from the next cycle on; true when done in time.
  bool record(jack_nframes_t frames, double timeoutSeconds = 10);
  const std::vector<float>& recorded(int playbackPort) const { return recordings_[playbackPort]; }

 private:
  TestInterface() = default;
  static int process(jack_nframes_t frames, void* self);
  int cycle(jack_nframes_t frames);
  static void latency(jack_latency_callback_mode_t mode, void* self);
  static int xrun(void* self);
  static void shutdown(jack_status_t, const char*, void* self);

  TestInterfaceOptions options_;
  jack_client_t* client_ = nullptr;
  std::string name_;
  std::vector<jack_port_t*> capture_;
  std::vector<jack_port_t*> playback_;
  std::vector<std::unique_ptr<LTCEncoder>> encoders_;  // per capture port, or null
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
