#pragma once
// LTCInput captures one channel of one audio input device through a JACK client of its own ("Quillmark LTC
// in" after its device monitor's client base, one audio input port connected to the device's port number
// `channel`), feeds it buffer by buffer to an LTCDecoder on the process thread, stamps every decoded frame
// with the host time at which its first bit reached the device, and hands it to onFrame. It publishes the
// decoder's level and error count, and reports a server shutdown or a new sample rate or buffer size through
// onConfigurationChange so that its owner can restart it.
//
// Time stamps: the cycle's first frame is put on a line fitted to the process thread's wake-ups (see
// JackFrameClock), less the capture latency of the connection (read from the device at start, then kept up
// to date by JACK's latency pass). A frame that started q - s0 samples into the buffer started that many
// fitted sample periods later. Frames decoded before start() knows the latency are not handed on.
// Threads: start, stop and the accessors on the main thread; onFrame is called on the process thread and
// onConfigurationChange on the main thread. Assign both before the first start and leave them while
// running.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/audio_device.h"
#include "audio/audio_error.h"
#include "ltc/ltc_frame.h"

namespace quillmark {

class JackDevices;

class LTCInput {
 public:
  struct TimedFrame {
    LTCFrame frame;
    double time = 0;      // host seconds at which the frame's first bit arrived at the device input
    double duration = 0;  // seconds, measured from the signal
    bool reverse = false;
  };

  // Receives every decoded frame, synchronously on the process thread; it must not block for long.
  std::function<void(const TimedFrame&)> onFrame;
  // Called on the main thread when the server shut down or changed its sample rate or buffer size.
  std::function<void()> onConfigurationChange;

  // Binds to devices as `devices` lists them; its client is named and posts through the monitor's context.
  explicit LTCInput(JackDevices& devices);
  ~LTCInput();
  LTCInput(const LTCInput&) = delete;
  LTCInput& operator=(const LTCInput&) = delete;

  // Captures `channel` (0-based; clamped to the device's channels, a negative one to 0) of `device`,
  // stopping any earlier run first. Throws AudioError::deviceUnavailable(device.name) when no server runs,
  // the device is gone or has no channels, or the client cannot be set up; the input is then stopped.
  void start(const AudioDevice& device, int channel);
  // Stops capturing and zeroes the statistics; safe when not running. No frame arrives after it returns.
  void stop();

  bool isRunning() const noexcept { return run_ != nullptr; }
  // The channel of the running capture after clamping; -1 when stopped.
  int channelInUse() const noexcept;
  // Whether the capture is connected to the device port `portName` right now (a port that left, even if
  // it came back since, has lost its connection); false when stopped.
  // A connection younger than kConnectionGrace counts as made (PipeWire links asynchronously).
  static constexpr double kConnectionGrace = 1.0;  // seconds
  bool isConnectedTo(const std::string& portName) const;

  // The decoder's envelope and error count after the latest buffer.
  float level() const noexcept { return level_.load(std::memory_order_relaxed); }
  std::int64_t errors() const noexcept { return errors_.load(std::memory_order_relaxed); }

 private:
  struct Run;

  JackDevices& devices_;  // non-owning: the owner keeps the monitor longer than this
  std::unique_ptr<Run> run_;
  // Written by the process thread after every buffer, read by the status refresh; two independent
  // readings, so two atomics rather than a lock the process thread would have to wait for.
  std::atomic<float> level_{0};
  std::atomic<std::int64_t> errors_{0};
  // Bumped by every stop, so that a configuration notice of a finished run, or of an input that is gone,
  // does nothing when it reaches the main thread.
  std::shared_ptr<std::uint64_t> generation_ = std::make_shared<std::uint64_t>(0);
};

}  // namespace quillmark
