#pragma once
// DeviceLists: the audio devices and MIDI ports the store offers for choosing, as the device monitor and
// the engine's MIDI client last listed them, and which listed device a settings record selects.
// Intentionally copyable. Threads: main thread only (the monitor and the MIDI client are asked there).

#include <optional>
#include <string>
#include <vector>

#include "audio/audio_device.h"
#include "midi/midi_port.h"

namespace quillmark {

class JackDevices;
class TimecodeEngine;

struct DeviceLists {
  // Which lists a refresh replaced.
  struct Changes {
    bool inputs = false;
    bool outputs = false;
    bool sources = false;
    bool destinations = false;
    bool any() const noexcept { return inputs || outputs || sources || destinations; }
  };

  std::vector<AudioDevice> inputDevices;
  std::vector<AudioDevice> outputDevices;
  std::vector<MIDIPort> midiSources;
  std::vector<MIDIPort> midiDestinations;

  // Reads every list again; a list that reads the same is left alone. Without an engine the MIDI lists
  // hold only our own virtual port, which comes back with the server.
  Changes refresh(JackDevices& devices, TimecodeEngine* engine);

  // The listed device with `uid`; none when none is given or it is not connected.
  std::optional<AudioDevice> inputWithUID(const std::optional<std::string>& uid) const;
  std::optional<AudioDevice> outputWithUID(const std::optional<std::string>& uid) const;

  // What an empty device choice is filled in with: the device the system offers by default when it is
  // listed, else the first one listed, else none.
  std::optional<std::string> defaultInputUID(JackDevices& devices) const;
  std::optional<std::string> defaultOutputUID(JackDevices& devices) const;
};

}  // namespace quillmark
