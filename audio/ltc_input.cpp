#include "audio/ltc_input.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "audio/device_connection.h"
#include "audio/jack_devices.h"
#include "core/host_time.h"
#include "jack/jack_buffer_access.h"
#include "jack/jack_client.h"
#include "jack/jack_configuration_watch.h"
#include "jack/jack_frame_clock.h"
#include "jack/realtime.h"
#include "ltc/ltc_decoder.h"

namespace quillmark {

// One capture from start to stop: the client and everything its callbacks touch. The client is closed
// first when a run ends, so no callback can outlive the rest.
struct LTCInput::Run {
  Run(LTCInput& owner, std::unique_ptr<JackClient> client, jack_port_t* port, int channel, double sampleRate)
      : owner(owner),
        client(std::move(client)),
        jack(this->client->get()),
        port(port),
        channel(channel),
        sampleRate(sampleRate),
        decoder(sampleRate) {}
  // Closing waits for the process thread, which may still run a last cycle meanwhile: it reads the
  // client through `jack`, which stays valid until the close returns (the unique_ptr is already null).
  ~Run() { client.reset(); }

  static int process(jack_nframes_t frames, void* self) noexcept QM_REALTIME {
    return static_cast<Run*>(self)->onProcess(frames);
  }
  static void latency(jack_latency_callback_mode_t mode, void* self) {
    if (mode == JackCaptureLatency) static_cast<Run*>(self)->readCaptureLatency();
  }
  void readCaptureLatency() noexcept {
    jack_latency_range_t range{};
    jack_port_get_latency_range(port, JackCaptureLatency, &range);
    // Zero is what our port reports before JACK's latency pass has reached it, so a zero never replaces
    // the value start() read from the device.
    if (range.max > 0) captureLatency.store(range.max, std::memory_order_relaxed);
  }
  int onProcess(jack_nframes_t frames) noexcept QM_REALTIME;

  LTCInput& owner;
  std::unique_ptr<JackClient> client;
  jack_client_t* const jack;
  jack_port_t* const port;
  const int channel;
  const double sampleRate;
  std::optional<JackConfigurationWatch> watch;
  std::atomic<jack_nframes_t> captureLatency{0};  // frames; written by start() and the latency handler
  std::atomic<bool> latencyKnown{false};          // set by start() once the connection's latency is read
  std::string devicePort;                         // main thread: the device port connected at start
  double startedAt = 0;                           // main thread: host seconds

  // Process thread only.
  LTCDecoder decoder;
  JackFrameClock frameClock;
  std::int64_t sampleCounter = 0;  // absolute index of the next input sample of this run
  std::optional<jack_nframes_t> expectedFrameTime;
};

int LTCInput::Run::onProcess(jack_nframes_t frames) noexcept {
  // Cycle frames become host time through a line fitted to this thread's own wake-ups (JackFrameClock
  // says why), the same kind of line that stamps received MIDI.
  const double wake = HostTime::now();
  const jack_nframes_t cycleFrame = jack_last_frame_time(jack);
  frameClock.observe(cycleFrame, wake, sampleRate);
  // After an xrun JACK skips frames. Advancing the counter by as many keeps sample positions on the same
  // time line, so a frame is never stamped as if the skipped audio had not existed; the decoder loses the
  // frame that was cut and picks up the next one.
  if (expectedFrameTime) {
    const auto skipped = static_cast<std::int32_t>(cycleFrame - *expectedFrameTime);
    if (skipped > 0) sampleCounter += skipped;
  }
  expectedFrameTime = cycleFrame + frames;
  const double secondsPerFrame = frameClock.secondsPerFrame();
  // The moment the cycle's first sample arrived at the device. Frames decoded before start() has read the
  // connection's latency would be stamped that much late, so they are not handed on.
  const bool stamped = latencyKnown.load(std::memory_order_acquire);
  const double t0 = frameClock.hostSeconds(
      cycleFrame, -static_cast<double>(captureLatency.load(std::memory_order_relaxed)));

  const std::int64_t s0 = sampleCounter;
  sampleCounter = s0 + frames;
  const JackBufferAccess input(port, frames);
  if (const float* data = input.samples()) {
    decoder.process(data, frames, s0, [&](const LTCDecoder::Frame& found) {
      if (!stamped || !owner.onFrame) return;
      owner.onFrame(TimedFrame{found.frame, t0 + (found.start - static_cast<double>(s0)) * secondsPerFrame,
                               found.length * secondsPerFrame, found.reverse});
    });
  }
  owner.level_.store(decoder.level(), std::memory_order_relaxed);
  owner.errors_.store(decoder.errors(), std::memory_order_relaxed);
  return 0;
}

LTCInput::LTCInput(JackDevices& devices) : devices_(devices) {}

LTCInput::~LTCInput() {
  stop();
}

void LTCInput::start(const AudioDevice& device, int channel) {
  stop();
  auto unavailable = [&] {
    stop();
    return AudioError::deviceUnavailable(device.name);
  };

  std::optional<DeviceConnection> connection =
      DeviceConnection::open(devices_, device, "LTC in", AudioDevice::Scope::input);
  if (!connection) throw unavailable();
  auto& client = connection->client;
  const std::vector<std::string>& devicePorts = connection->devicePorts;
  const jack_nframes_t sampleRate = connection->sampleRate;
  const int used = std::clamp(channel, 0, static_cast<int>(devicePorts.size()) - 1);

  jack_port_t* port = jack_port_register(client->get(), "LTC in", JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsInput | JackPortIsTerminal, 0);
  if (!port) throw unavailable();

  auto run = std::make_unique<Run>(*this, std::move(client), port, used, static_cast<double>(sampleRate));
  jack_client_t* c = run->client->get();
  const std::uint64_t generation = ++*generation_;
  run->watch.emplace(
      *run->client, configurationNotice(devices_.context(), generation, generation_, &onConfigurationChange));
  if (run->client->setProcessCallback(Run::process, run.get()) != 0 ||
      jack_set_latency_callback(c, Run::latency, run.get()) != 0) {
    throw unavailable();
  }
  level_.store(0, std::memory_order_relaxed);
  errors_.store(0, std::memory_order_relaxed);
  if (jack_activate(c) != 0) throw unavailable();
  if (jack_connect(c, devicePorts[static_cast<std::size_t>(used)].c_str(), jack_port_name(port)) != 0) {
    run.reset();
    throw unavailable();
  }
  // Our port's latency is worked out by JACK's latency pass, which reaches this client some time after the
  // connection; the device port already declares it.
  run->captureLatency.store(
      jackPortLatency(c, devicePorts[static_cast<std::size_t>(used)], JackCaptureLatency),
      std::memory_order_relaxed);
  run->readCaptureLatency();
  run->latencyKnown.store(true, std::memory_order_release);
  run->devicePort = devicePorts[static_cast<std::size_t>(used)];
  run->startedAt = HostTime::now();
  run_ = std::move(run);
}

void LTCInput::stop() {
  ++*generation_;
  run_.reset();  // closes the client: no process callback runs after this
  level_.store(0, std::memory_order_relaxed);
  errors_.store(0, std::memory_order_relaxed);
}

int LTCInput::channelInUse() const noexcept {
  return run_ ? run_->channel : -1;
}

bool LTCInput::isConnectedTo(const std::string& portName) const {
  if (!run_) return false;
  if (jack_port_connected_to(run_->port, portName.c_str())) return true;
  // PipeWire makes the link a moment after jack_connect returned; jackd before.
  return portName == run_->devicePort && HostTime::now() - run_->startedAt < kConnectionGrace;
}

}  // namespace quillmark
