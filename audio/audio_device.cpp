#include "audio/audio_device.h"

#include <utility>

#include "audio/jack_devices.h"

namespace quillmark {

std::vector<AudioDevice> AudioDevice::all(Scope scope) {
  return JackDevices::shared().list(scope);
}

std::optional<std::uint32_t> AudioDevice::defaultDeviceID(Scope scope) {
  return JackDevices::shared().defaultDeviceID(scope);
}

void AudioDevice::observeChanges(std::function<void()> callback) {
  JackDevices::shared().observe(std::move(callback));
}

std::size_t AudioDeviceHash::operator()(const AudioDevice& device) const noexcept {
  std::size_t seed = 0;
  auto combine = [&seed](std::size_t h) { seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
  combine(std::hash<std::uint32_t>{}(device.id));
  combine(std::hash<std::string>{}(device.uid));
  combine(std::hash<std::string>{}(device.name));
  combine(std::hash<int>{}(device.channels));
  return seed;
}

}  // namespace quillmark
