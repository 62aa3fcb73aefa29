#include "audio/audio_device.h"

#include <functional>

namespace quillmark {

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
