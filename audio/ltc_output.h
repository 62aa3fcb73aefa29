#pragma once
// LTCOutput plays LTC on one channel, or an identical pair of adjacent channels, of an audio output device
// through a JACK client of its own ("Quillmark LTC out" after its device monitor's client base, one or two
// audio output ports connected to the device's ports `first` ...; the device's other ports are left
// unconnected, so they carry none of it). It has no time line of its own: for every cycle it asks `clock` for
// a snapshot, reads the position at the host time the cycle's first sample leaves the device (the cycle's
// first frame on a line fitted to the process thread's wake-ups, see JackFrameClock, plus the playback
// latency of the connection, read from the device at start and kept up to date by JACK's latency pass), adds
// offsetFrames and lets an LTCEncoder render at the clock's speed in host seconds per sample as fitted. It
// stays silent until start() knows the latency. Consecutive cycles continue each other's phase, steered
// toward that position (LTCPhaseTracker), so the timing noise of cycle times never cuts a bit cell short; a
// parting of half a frame or more is followed at once. It is silent while the clock stands, runs backwards or
// has no position. Threads: start, stop and the writes of offsetFrames and amplitude on the main thread;
// `clock` is called on the process thread and must be safe there (no allocation, only short locks);
// onConfigurationChange is called on the main thread. Assign clock and onConfigurationChange before starting
// and leave them while running.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_device.h"
#include "audio/audio_error.h"
#include "core/clock_snapshot.h"

namespace quillmark {

class JackDevices;

class LTCOutput {
 public:
  struct Channels {
    int first = 0;  // 0-based index of the first output channel
    int count = 1;  // adjacent channels: 1, or 2 for an identical pair
    bool operator==(const Channels&) const = default;
  };

  // Asked once per cycle, on the process thread. The initial clock has slope 0, so the output stays silent
  // until the owner installs the real one.
  std::function<ClockSnapshot()> clock = [] { return ClockSnapshot{}; };
  // Added to the position, in frames; may be fractional or negative. Read by every cycle.
  std::atomic<double> offsetFrames{0.0};
  // Peak output level, full scale 1.0, copied into the encoder every cycle.
  std::atomic<float> amplitude{0.5f};
  // Called on the main thread when the server shut down or changed its sample rate or buffer size.
  std::function<void()> onConfigurationChange;

  // Binds to devices as `devices` lists them; its client is named and posts through the monitor's context.
  explicit LTCOutput(JackDevices& devices);
  ~LTCOutput();
  LTCOutput(const LTCOutput&) = delete;
  LTCOutput& operator=(const LTCOutput&) = delete;

  // Plays on `channels` of `device`, stopping any earlier run first. A first channel beyond the device's
  // is clamped to its last (a negative one to 0), and a pair is cut to the channels that exist. Throws
  // AudioError::deviceUnavailable(device.name) when no server runs, the device is gone or has no channels,
  // or the client cannot be set up; the output is then stopped.
  void start(const AudioDevice& device, Channels channels);
  // Stops playing; safe when not running. offsetFrames and amplitude keep their values.
  void stop();

  bool isRunning() const noexcept { return run_ != nullptr; }
  // The device channels actually played after clamping; count 0 when stopped.
  Channels channelsInUse() const noexcept;
  // Whether our ports are connected, one to one, to exactly the device ports `portNames` right now (a port
  // that left, even if it came back since, has lost its connection); false when stopped.
  // A connection younger than kConnectionGrace counts as made (PipeWire links asynchronously).
  static constexpr double kConnectionGrace = 1.0;  // seconds
  bool isConnectedTo(const std::vector<std::string>& portNames) const;
  // `wanted` on a device with `deviceChannels` channels (at least 1), clamped as start() does.
  static Channels clamp(Channels wanted, int deviceChannels) noexcept;

 private:
  struct Run;

  JackDevices& devices_;  // non-owning: the owner keeps the monitor longer than this
  std::unique_ptr<Run> run_;
  // Bumped by every stop; see LTCInput.
  std::shared_ptr<std::uint64_t> generation_ = std::make_shared<std::uint64_t>(0);
};

struct LTCOutputChannelsHash {
  std::size_t operator()(const LTCOutput::Channels& channels) const noexcept {
    return std::hash<int>{}(channels.first) * 31u + std::hash<int>{}(channels.count);
  }
};

}  // namespace quillmark
