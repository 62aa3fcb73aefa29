#include "app/stream_control.h"

#include <algorithm>
#include <climits>
#include <system_error>
#include <utility>

#include "audio/audio_error.h"
#include "audio/jack_devices.h"
#include "engine/timecode_engine.h"

namespace quillmark {
namespace {

// Channel numbers are 64-bit in the settings; the devices count them in int.
int channelNumber(std::int64_t channel) {
  return static_cast<int>(std::clamp<std::int64_t>(channel, 0, INT_MAX));
}

// Ports are 64-bit in the settings (JSON numbers); a socket takes 16 bits.
std::uint16_t portNumber(std::int64_t port) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(port, 0, 65535));
}

}  // namespace

void StreamControl::setInputError(std::optional<std::string> error) {
  inputError_ = std::move(error);
  emit inputErrorChanged();
}

void StreamControl::setOutputError(std::optional<std::string> error) {
  outputError_ = std::move(error);
  emit outputErrorChanged();
}

void StreamControl::setArtNetOutError(std::optional<std::string> error) {
  artnetOutError_ = std::move(error);
  emit artnetOutErrorChanged();
}

void StreamControl::stopLTCInput() {
  if (!runningInput_) return;
  if (engine_) engine_->ltcInput.stop();
  runningInput_.reset();
}

void StreamControl::stopLTCOutput() {
  if (!runningLTCOut_) return;
  if (engine_) engine_->ltcOutput.stop();
  runningLTCOut_.reset();
}

void StreamControl::stopMTCOutput() {
  if (!runningMTCOut_) return;
  if (engine_) engine_->mtcOutput().stop();
  runningMTCOut_.reset();
}

void StreamControl::stopArtNetInput() {
  if (!runningArtNetIn_) return;
  if (engine_) engine_->artnetInput.stop();
  runningArtNetIn_.reset();
}

void StreamControl::stopArtNetOutput() {
  if (!runningArtNetOut_) return;
  if (engine_) engine_->artnetOutput.stop();
  runningArtNetOut_.reset();
}

void StreamControl::stopArtNet() {
  if (engine_) {
    engine_->artnetOutput.stop();
    engine_->artnetInput.stop();
  }
  runningArtNetOut_.reset();
  runningArtNetIn_.reset();
}

void StreamControl::forgetAll() {
  runningInput_.reset();
  runningLTCOut_.reset();
  runningMTCOut_.reset();
  stopArtNet();
}

void StreamControl::applyLTCInput(const Settings& s, const std::optional<AudioDevice>& selected) {
  const std::optional<AudioDevice> device = engine_ ? selected : std::nullopt;
  if (s.source == SourceKind::ltc && device) {
    const RunningInput wanted{device->uid, s.ltcInputChannel};
    if (runningInput_ == wanted) return;
    try {
      engine_->ltcInput.start(*device, channelNumber(s.ltcInputChannel));
      runningInput_ = wanted;
      setInputError(std::nullopt);
      // The same input started again (a device that came back, a new buffer size) continues the code the
      // clock holds: it freewheels over the gap instead of stopping and locking again.
      if (lastStartedInput_ != wanted) engine_->resetInput();
      lastStartedInput_ = wanted;
    } catch (const AudioError& error) {
      runningInput_.reset();
      setInputError(error.description());
    }
    return;
  }
  stopLTCInput();
  if (s.source == SourceKind::ltc) {
    setInputError(std::string("No audio input found."));
  } else if (s.source != SourceKind::artnet) {
    // Art-Net's apply, which follows, sets its own input's error: cleared here first, an input that
    // cannot listen would be reported fine and then failing again on every pass.
    setInputError(std::nullopt);
  }
}

void StreamControl::applyOutputs(const Settings& s, const std::optional<AudioDevice>& selected,
                                 const std::vector<MIDIPort>& destinations) {
  const auto destination = std::find_if(destinations.begin(), destinations.end(),
                                        [&](const MIDIPort& p) { return p.name == s.mtcOutName; });
  if (engine_ && s.mtcOutEnabled && runningMTCOut_ == s.mtcOutName) {
    // Running on its destination: one that left is connected again by the MIDI client when it returns,
    // while the sender runs on.
  } else if (engine_ && s.mtcOutEnabled && destination != destinations.end()) {
    engine_->mtcOutput().start(destination->ref);
    runningMTCOut_ = s.mtcOutName;
  } else {
    stopMTCOutput();
  }

  // Assigned once, so that a watcher never sees the error cleared and set again within one pass.
  std::optional<std::string> error;
  const std::optional<AudioDevice> device = engine_ ? selected : std::nullopt;
  if (s.ltcOutEnabled && device) {
    const LTCOutput::Channels channels{channelNumber(s.ltcOutChannel), s.ltcOutPair ? 2 : 1};
    const RunningLTCOut wanted{device->uid, channels};
    if (runningLTCOut_ != wanted) {
      try {
        engine_->ltcOutput.start(*device, channels);
        runningLTCOut_ = wanted;
      } catch (const AudioError& failure) {
        runningLTCOut_.reset();
        error = failure.description();
      }
    }
  } else {
    stopLTCOutput();
    if (s.ltcOutEnabled) error = "No audio output found.";
  }
  setOutputError(std::move(error));
}

void StreamControl::applyArtNetInput(const Settings& s) {
  if (engine_ && s.source == SourceKind::artnet) {
    const RunningArtNetIn wanted{s.artnetInAddress, s.artnetInPort, s.freewheel};
    if (runningArtNetIn_ == wanted) return;
    // A sender that falls silent for the freewheel time has stopped, so another may take over.
    const ArtNetInput::Config config{s.artnetInAddress, portNumber(s.artnetInPort), s.freewheel};
    // A new freewheel time restarts the receiver on the same socket address: the code being followed
    // carries on, so what was learned from it stays.
    const bool sameStream = runningArtNetIn_ && runningArtNetIn_->address == wanted.address &&
                            runningArtNetIn_->port == wanted.port;
    try {
      engine_->artnetInput.start(config);
      runningArtNetIn_ = wanted;
      setInputError(std::nullopt);
      if (!sameStream) engine_->resetInput();
    } catch (const std::system_error& error) {
      runningArtNetIn_.reset();
      setInputError(std::string(error.what()));
    }
    return;
  }
  stopArtNetInput();
  if (s.source == SourceKind::artnet) setInputError(std::nullopt);  // no engine to listen with
}

void StreamControl::applyArtNetOutput(const Settings& s) {
  if (engine_ && s.artnetOutEnabled) {
    const RunningArtNetOut wanted{s.artnetOutAddress, s.artnetOutPort};
    if (runningArtNetOut_ == wanted) return;
    try {
      engine_->artnetOutput.start(s.artnetOutAddress, portNumber(s.artnetOutPort));
      runningArtNetOut_ = wanted;
      setArtNetOutError(std::nullopt);
    } catch (const std::system_error& error) {
      engine_->artnetOutput.stop();
      runningArtNetOut_.reset();
      setArtNetOutError(std::string(error.what()));
    }
    return;
  }
  stopArtNetOutput();
  if (artnetOutError_) setArtNetOutError(std::nullopt);
}

bool StreamControl::ltcInputHolds(const Settings& s, const std::optional<AudioDevice>& device,
                                  JackDevices& devices) const {
  if (!engine_ || !device) return false;
  const std::vector<std::string> ports = devices.portsOf(device->uid, AudioDevice::Scope::input);
  if (ports.empty()) return false;
  const auto channel = static_cast<std::size_t>(
      std::clamp(channelNumber(s.ltcInputChannel), 0, static_cast<int>(ports.size()) - 1));
  return engine_->ltcInput.isConnectedTo(ports[channel]);
}

bool StreamControl::ltcOutputHolds(const Settings& s, const std::optional<AudioDevice>& device,
                                   JackDevices& devices) const {
  if (!engine_ || !device) return false;
  const std::vector<std::string> ports = devices.portsOf(device->uid, AudioDevice::Scope::output);
  if (ports.empty()) return false;
  const LTCOutput::Channels used = LTCOutput::clamp({channelNumber(s.ltcOutChannel), s.ltcOutPair ? 2 : 1},
                                                    static_cast<int>(ports.size()));
  const auto first = ports.begin() + used.first;
  return engine_->ltcOutput.isConnectedTo(std::vector<std::string>(first, first + used.count));
}

}  // namespace quillmark
