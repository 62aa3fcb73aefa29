#pragma once
// AudioDevice: the record by which Quillmark lists, chooses, remembers and opens an audio device. On JACK a
// device is another client of the graph: an input device owns audio output ports (what we can capture:
// hardware capture ports, another program's outputs), an output device owns audio input ports. `uid` is the
// JACK client name (persistent across runs), `name` its pretty name when it has one, and `id` a number this
// process keeps stable for that client name while it runs. Quillmark's own clients are never listed.
// Threads: all(), defaultDeviceID() and observeChanges() on the main thread; change callbacks arrive there.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillmark {

struct AudioDevice {
  // The direction a device is listed in.
  enum class Scope { input, output };

  std::uint32_t id = 0;
  std::string uid;
  std::string name;
  int channels = 1;  // ports in the listed direction, at least 1

  bool operator==(const AudioDevice&) const = default;

  // The clients with at least one audio port in `scope`, in a stable order (hardware first, then by a
  // natural sort of their client names). Empty when no JACK server is running; never starts or waits for one.
  static std::vector<AudioDevice> all(Scope scope);

  // The id of the client owning the first physical capture (input) or playback (output) port, else of the
  // first listed device; none when there is no device or no server.
  static std::optional<std::uint32_t> defaultDeviceID(Scope scope);

  // Registers `callback` to run on the main thread after the JACK graph changed (a client or a port
  // appeared or left, or a pretty name changed), once per burst of changes. It runs also when the lists
  // read the same as before: a device that left and came back within one burst lists the same but has lost
  // its connections. The registration is never removed.
  static void observeChanges(std::function<void()> callback);
};

// Combines id, uid, name and channels in that order.
struct AudioDeviceHash {
  std::size_t operator()(const AudioDevice& device) const noexcept;
};

}  // namespace quillmark
