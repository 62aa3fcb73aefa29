#pragma once
// StreamControl starts, restarts and stops the streams the store runs for the settings (the LTC input, the
// LTC output, the MTC output and the Art-Net input and output), records what each was last started with so
// that applying the same settings again touches nothing, and publishes why an input or output cannot run.
// Stopping a stream and forgetting its record happen in one place each, so no stream can be stopped and
// still recorded as running. It works on the store's current engine, which it does not own: none while no
// JACK server is reachable, when every stream counts as stopped.
//
// Every error has a signal that is emitted on every assignment, changed or not (the store forwards them).
// Threads: main thread only.

#include <QObject>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "audio/audio_device.h"
#include "audio/ltc_output.h"
#include "midi/midi_port.h"

namespace quillmark {

class JackDevices;
class TimecodeEngine;

class StreamControl : public QObject {
  Q_OBJECT
 public:
  // The device and channel the LTC input was last started with.
  struct RunningInput {
    std::string uid;
    std::int64_t channel = 0;
    bool operator==(const RunningInput&) const = default;
  };
  // The device and channels the LTC output was last started with.
  struct RunningLTCOut {
    std::string uid;
    LTCOutput::Channels channels;
    bool operator==(const RunningLTCOut&) const = default;
  };
  // The address, port and follow time the Art-Net input was last started with.
  struct RunningArtNetIn {
    std::string address;
    std::int64_t port = 0;
    double followSeconds = 0;
    bool operator==(const RunningArtNetIn&) const = default;
  };
  // The destination the Art-Net output was last started with.
  struct RunningArtNetOut {
    std::string address;
    std::int64_t port = 0;
    bool operator==(const RunningArtNetOut&) const = default;
  };

  explicit StreamControl(QObject* parent = nullptr) : QObject(parent) {}

  // The engine the streams run on from now on; none while there is no server. REQUIRES: every record is
  // clear (forgetAll) before the engine it was started on goes.
  void setEngine(TimecodeEngine* engine) noexcept { engine_ = engine; }

  // Moves each stream toward what `s` asks for, on `device` (the selected input or output; none when it is
  // not connected) or the first of `destinations` named as asked, and leaves one alone when it already
  // matches. The LTC input and the Art-Net input share the input error.
  void applyLTCInput(const Settings& s, const std::optional<AudioDevice>& device);
  void applyArtNetInput(const Settings& s);
  void applyOutputs(const Settings& s, const std::optional<AudioDevice>& device,
                    const std::vector<MIDIPort>& destinations);
  void applyArtNetOutput(const Settings& s);

  // Stop the stream when it runs and clear its record; nothing when it is stopped.
  void stopLTCInput();
  void stopLTCOutput();
  void stopMTCOutput();
  void stopArtNetInput();
  void stopArtNetOutput();
  // Both Art-Net streams stopped whatever their records say (a failed start may have left a socket).
  void stopArtNet();
  // Every record cleared and Art-Net stopped, for an engine about to go (its JACK streams go with it).
  void forgetAll();

  // Whether the running LTC input / output is still connected to the ports `s` asks for on `device` now,
  // as `devices` lists them; false when it does not run or the device is not connected.
  bool ltcInputHolds(const Settings& s, const std::optional<AudioDevice>& device, JackDevices& devices) const;
  bool ltcOutputHolds(const Settings& s, const std::optional<AudioDevice>& device,
                      JackDevices& devices) const;

  const std::optional<RunningInput>& runningInput() const noexcept { return runningInput_; }
  const std::optional<RunningLTCOut>& runningLTCOut() const noexcept { return runningLTCOut_; }
  const std::optional<std::string>& runningMTCOut() const noexcept { return runningMTCOut_; }
  const std::optional<RunningArtNetIn>& runningArtNetIn() const noexcept { return runningArtNetIn_; }
  const std::optional<RunningArtNetOut>& runningArtNetOut() const noexcept { return runningArtNetOut_; }

  const std::optional<std::string>& inputError() const noexcept { return inputError_; }
  const std::optional<std::string>& outputError() const noexcept { return outputError_; }
  const std::optional<std::string>& artnetOutError() const noexcept { return artnetOutError_; }
  void setInputError(std::optional<std::string> error);
  void setOutputError(std::optional<std::string> error);
  void setArtNetOutError(std::optional<std::string> error);

 signals:
  void inputErrorChanged();
  void outputErrorChanged();
  void artnetOutErrorChanged();

 private:
  TimecodeEngine* engine_ = nullptr;  // non-owning: the store's engine, replaced through setEngine
  std::optional<RunningInput> runningInput_;
  std::optional<RunningLTCOut> runningLTCOut_;
  std::optional<std::string> runningMTCOut_;
  std::optional<RunningArtNetIn> runningArtNetIn_;
  std::optional<RunningArtNetOut> runningArtNetOut_;
  // The input last started, kept over stops: starting the same one again continues the clock.
  std::optional<RunningInput> lastStartedInput_;
  std::optional<std::string> inputError_;
  std::optional<std::string> outputError_;
  std::optional<std::string> artnetOutError_;
};

}  // namespace quillmark
