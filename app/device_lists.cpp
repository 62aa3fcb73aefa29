#include "app/device_lists.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "audio/jack_devices.h"
#include "engine/timecode_engine.h"

namespace quillmark {
namespace {

std::optional<AudioDevice> deviceWithUID(const std::vector<AudioDevice>& devices,
                                         const std::optional<std::string>& uid) {
  if (!uid) return std::nullopt;
  const auto it =
      std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& d) { return d.uid == *uid; });
  if (it == devices.end()) return std::nullopt;
  return *it;
}

std::optional<std::string> defaultDeviceUID(JackDevices& monitor, const std::vector<AudioDevice>& devices,
                                            AudioDevice::Scope scope) {
  if (devices.empty()) return std::nullopt;
  const std::optional<std::uint32_t> id = monitor.defaultDeviceID(scope);
  if (id && *id != 0) {
    for (const AudioDevice& device : devices) {
      if (device.id == *id) return device.uid;
    }
  }
  return devices.front().uid;
}

template <class T>
bool replace(std::vector<T>& list, std::vector<T> fresh) {
  if (fresh == list) return false;
  list = std::move(fresh);
  return true;
}

}  // namespace

DeviceLists::Changes DeviceLists::refresh(JackDevices& devices, TimecodeEngine* engine) {
  Changes changes;
  changes.inputs = replace(inputDevices, devices.list(AudioDevice::Scope::input));
  changes.outputs = replace(outputDevices, devices.list(AudioDevice::Scope::output));
  const std::vector<MIDIPort> ownOnly{MIDIPort{0, MIDIPorts::kVirtualPortName}};
  changes.sources = replace(midiSources, engine ? engine->ports->sources() : ownOnly);
  changes.destinations = replace(midiDestinations, engine ? engine->ports->destinations() : ownOnly);
  return changes;
}

std::optional<AudioDevice> DeviceLists::inputWithUID(const std::optional<std::string>& uid) const {
  return deviceWithUID(inputDevices, uid);
}

std::optional<AudioDevice> DeviceLists::outputWithUID(const std::optional<std::string>& uid) const {
  return deviceWithUID(outputDevices, uid);
}

std::optional<std::string> DeviceLists::defaultInputUID(JackDevices& devices) const {
  return defaultDeviceUID(devices, inputDevices, AudioDevice::Scope::input);
}

std::optional<std::string> DeviceLists::defaultOutputUID(JackDevices& devices) const {
  return defaultDeviceUID(devices, outputDevices, AudioDevice::Scope::output);
}

}  // namespace quillmark
