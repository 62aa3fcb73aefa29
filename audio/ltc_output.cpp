#include "audio/ltc_output.h"

#include <jack/jack.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
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
#include "ltc/ltc_encoder.h"
#include "ltc/ltc_phase_tracker.h"

namespace quillmark {

// One playback from start to stop; see LTCInput::Run.
struct LTCOutput::Run {
  static constexpr int kMaxPorts = 2;

  Run(LTCOutput& owner, std::unique_ptr<JackClient> client, double sampleRate, Channels used)
      : owner(owner),
        client(std::move(client)),
        jack(this->client->get()),
        sampleRate(sampleRate),
        used(used),
        encoder(sampleRate) {}
  // Closing waits for the process thread, which may still run a last cycle meanwhile: it reads the
  // client through `jack`, which stays valid until the close returns (the unique_ptr is already null).
  ~Run() { client.reset(); }

  static int process(jack_nframes_t frames, void* self) noexcept QM_REALTIME {
    return static_cast<Run*>(self)->onProcess(frames);
  }
  static void latency(jack_latency_callback_mode_t mode, void* self) {
    if (mode == JackPlaybackLatency) static_cast<Run*>(self)->readPlaybackLatency();
  }
  void readPlaybackLatency() noexcept {
    jack_latency_range_t range{};
    jack_port_get_latency_range(ports[0], JackPlaybackLatency, &range);
    // Zero is what our port reports before JACK's latency pass has reached it, so a zero never replaces
    // the value start() read from the device (a device whose latency falls to zero mid-run keeps its old
    // value until the next start).
    if (range.max > 0) playbackLatency.store(range.max, std::memory_order_relaxed);
  }
  int onProcess(jack_nframes_t frames) noexcept QM_REALTIME;

  LTCOutput& owner;
  std::unique_ptr<JackClient> client;
  jack_client_t* const jack;
  const double sampleRate;
  const Channels used;
  std::array<jack_port_t*, kMaxPorts> ports{};
  int portCount = 0;
  std::optional<JackConfigurationWatch> watch;
  std::atomic<jack_nframes_t> playbackLatency{0};  // frames; written by start() and the latency handler
  std::atomic<bool> latencyKnown{false};           // set by start() once the connection's latency is read
  std::vector<std::string> devicePorts;            // main thread: the device ports connected at start
  double startedAt = 0;                            // main thread: host seconds

  // Process thread only.
  LTCEncoder encoder;
  LTCPhaseTracker phase;
  JackFrameClock frameClock;
};

int LTCOutput::Run::onProcess(jack_nframes_t frames) noexcept {
  // Cycle frames become host time through a line fitted to this thread's own wake-ups: the frames are
  // exact, the server's cycle times wander (JackFrameClock says why). MIDI uses the same kind of line, so
  // LTC and MTC played from one clock leave on one time base.
  const double wake = HostTime::now();
  const jack_nframes_t cycleFrame = jack_last_frame_time(jack);
  frameClock.observe(cycleFrame, wake, sampleRate);
  // Held to the end of the cycle, whichever way it ends.
  std::array<JackBufferAccess, kMaxPorts> outputs;
  std::array<float*, kMaxPorts> buffers{};
  for (int i = 0; i < portCount; ++i) {
    outputs[i].reset(ports[i], frames);
    buffers[i] = outputs[i].samples();
    if (buffers[i]) std::memset(buffers[i], 0, sizeof(float) * frames);
  }
  float* first = buffers[0];
  if (!first) return 0;
  if (!latencyKnown.load(std::memory_order_acquire)) {
    // Until start() has read the latency of the connection, a position would be read for the wrong moment
    // and the phase would have to be steered back from there for the best part of a second.
    phase.reset();
    return 0;
  }

  // The moment the cycle's first sample leaves the device.
  const double t = frameClock.hostSeconds(
      cycleFrame, static_cast<double>(playbackLatency.load(std::memory_order_relaxed)));

  const ClockSnapshot snapshot = owner.clock ? owner.clock() : ClockSnapshot{};
  const std::optional<double> position =
      snapshot.slope > 0 ? snapshot.position(t, wake) : std::nullopt;  // a NaN slope is silent too
  if (!position) {
    phase.reset();  // stopped, running backwards or without a position: silence, and start afresh
    return 0;
  }

  if (encoder.rate() != snapshot.rate) {
    // A rate that counts labels differently starts where the clock says, even mid-frame. 23.976 and 24,
    // or 29.97 ND and 30, count the same labels: the clock's pulldown detection may switch between them
    // while the position runs on, so the phase runs on too.
    if (framesPerSecond(encoder.rate()) != framesPerSecond(snapshot.rate) ||
        isDropFrame(encoder.rate()) != isDropFrame(snapshot.rate)) {
      phase.reset();
    }
    encoder.setRate(snapshot.rate);  // drops the cached frame
  }
  encoder.setAmplitude(owner.amplitude.load(std::memory_order_relaxed));
  const double offset = owner.offsetFrames.load(std::memory_order_relaxed);
  // Continue the last buffer's phase, steered toward the clock: see LTCPhaseTracker.
  // The speed per sample follows the host seconds a sample really lasts (the fitted line), not the nominal
  // rate: a device running a little off its nominal rate is followed exactly, and only the phase is
  // steered.
  const double step = snapshot.slope * frameClock.secondsPerFrame();
  const LTCPhaseTracker::Run run = phase.next(*position + offset, step, frames);
  encoder.render(first, frames, run.start, run.step);
  for (int i = 1; i < portCount; ++i) {
    if (buffers[i]) std::memcpy(buffers[i], first, sizeof(float) * frames);
  }
  return 0;
}

LTCOutput::LTCOutput(JackDevices& devices) : devices_(devices) {}

LTCOutput::~LTCOutput() {
  stop();
}

void LTCOutput::start(const AudioDevice& device, Channels channels) {
  stop();
  auto unavailable = [&] {
    stop();
    return AudioError::deviceUnavailable(device.name);
  };

  std::optional<DeviceConnection> connection =
      DeviceConnection::open(devices_, device, "LTC out", AudioDevice::Scope::output);
  if (!connection) throw unavailable();
  auto& client = connection->client;
  const std::vector<std::string>& devicePorts = connection->devicePorts;
  const jack_nframes_t sampleRate = connection->sampleRate;

  const Channels used = clamp(channels, static_cast<int>(devicePorts.size()));
  const int c1 = used.first;

  auto run = std::make_unique<Run>(*this, std::move(client), static_cast<double>(sampleRate), used);
  jack_client_t* c = run->client->get();
  for (int i = 0; i < used.count; ++i) {
    const std::string portName = "LTC out " + std::to_string(i + 1);
    run->ports[i] = jack_port_register(c, portName.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                       JackPortIsOutput | JackPortIsTerminal, 0);
    if (!run->ports[i]) throw unavailable();
    run->portCount = i + 1;
  }

  const std::uint64_t generation = ++*generation_;
  run->watch.emplace(
      *run->client, configurationNotice(devices_.context(), generation, generation_, &onConfigurationChange));
  if (run->client->setProcessCallback(Run::process, run.get()) != 0 ||
      jack_set_latency_callback(c, Run::latency, run.get()) != 0) {
    throw unavailable();
  }
  if (jack_activate(c) != 0) throw unavailable();
  for (int i = 0; i < used.count; ++i) {
    if (jack_connect(c, jack_port_name(run->ports[i]),
                     devicePorts[static_cast<std::size_t>(c1 + i)].c_str()) != 0) {
      throw unavailable();
    }
  }
  // Our port's latency is worked out by JACK's latency pass, which reaches this client some time after
  // the connection; the device port already declares it. Take the larger of the two.
  jack_nframes_t latency = 0;
  for (int i = 0; i < used.count; ++i) {
    latency = std::max(
        latency, jackPortLatency(c, devicePorts[static_cast<std::size_t>(c1 + i)], JackPlaybackLatency));
  }
  run->playbackLatency.store(latency, std::memory_order_relaxed);
  run->readPlaybackLatency();
  run->latencyKnown.store(true, std::memory_order_release);
  run->devicePorts.assign(devicePorts.begin() + c1, devicePorts.begin() + c1 + used.count);
  run->startedAt = HostTime::now();
  run_ = std::move(run);
}

void LTCOutput::stop() {
  ++*generation_;
  run_.reset();  // closes the client: no process callback runs after this
}

LTCOutput::Channels LTCOutput::channelsInUse() const noexcept {
  return run_ ? run_->used : Channels{0, 0};
}

LTCOutput::Channels LTCOutput::clamp(Channels wanted, int deviceChannels) noexcept {
  const int n = std::max(deviceChannels, 1);
  const int c1 = std::clamp(wanted.first, 0, n - 1);
  const int c2 = std::min(c1 + std::max(wanted.count, 1), n) - 1;
  return Channels{c1, std::min(c2 - c1 + 1, Run::kMaxPorts)};
}

bool LTCOutput::isConnectedTo(const std::vector<std::string>& portNames) const {
  if (!run_ || portNames.size() != static_cast<std::size_t>(run_->portCount)) return false;
  // PipeWire makes the links a moment after jack_connect returned; jackd before.
  if (portNames == run_->devicePorts && HostTime::now() - run_->startedAt < kConnectionGrace) return true;
  for (std::size_t i = 0; i < portNames.size(); ++i) {
    if (!jack_port_connected_to(run_->ports[i], portNames[i].c_str())) return false;
  }
  return true;
}

}  // namespace quillmark
