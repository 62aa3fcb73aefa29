#pragma once
// MIDIPort: one MIDI endpoint as the pickers show it. `ref` is the number the MIDI ports keep for the
// endpoint's JACK port name during the run; `name` is what the user sees. Pickers and saved settings
// identify an endpoint by its name, not its number, so two endpoints with one display name are one choice.
// Threads: a plain value, safe anywhere.

#include <cstdint>
#include <functional>
#include <string>

namespace quillmark {

struct MIDIPort {
  std::uint32_t ref = 0;
  std::string name;

  bool operator==(const MIDIPort&) const = default;

  // The identity pickers and settings use.
  const std::string& id() const noexcept { return name; }
};

// Hashes both fields, as equality compares both.
struct MIDIPortHash {
  std::size_t operator()(const MIDIPort& port) const noexcept {
    return std::hash<std::string>{}(port.name) * 31u + port.ref;
  }
};

}  // namespace quillmark
