#pragma once
// AudioDevice: the record by which Quillmark lists, chooses, remembers and opens an audio device. On JACK a
// device is another client of the graph: an input device owns audio output ports (what we can capture:
// hardware capture ports, another program's outputs), an output device owns audio input ports. `uid` is the
// JACK client name (persistent across runs), `name` its pretty name when it has one, and `id` a number the
// device monitor (JackDevices, which lists them) keeps stable for that client name while it lives.
// Quillmark's own clients are never listed. Intentionally copyable.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillmark {

struct AudioDevice {
  // The direction a device is listed in.
  enum class Scope { input, output };

  std::uint32_t id = 0;
  std::string uid;
  std::string name;
  int channels = 1;  // ports in the listed direction, at least 1

  bool operator==(const AudioDevice&) const = default;
};

// Combines id, uid, name and channels in that order.
struct AudioDeviceHash {
  std::size_t operator()(const AudioDevice& device) const noexcept;
};

}  // namespace quillmark
