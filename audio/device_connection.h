#pragma once
// DeviceConnection: the common first half of starting the LTC input or output on a device: a JACK client
// of our own, the device's ports in the direction we use, and the server's sample rate; and the notifier
// both runs install to hear that their configuration no longer holds.
// Threads: main thread only.

#include <jack/jack.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_device.h"
#include "jack/jack_client.h"
#include "jack/jack_context.h"

namespace quillmark {

class JackDevices;

struct DeviceConnection {
  std::unique_ptr<JackClient> client;
  std::vector<std::string> devicePorts;  // full port names, in JACK's order; never empty
  jack_nframes_t sampleRate = 0;         // never 0

  // Opens a client named for `role` in the monitor's context ("<base> LTC in") for a run on `device`, as
  // listed by `devices`. None when the device or the server is gone, or the device has no ports in `scope`.
  static std::optional<DeviceConnection> open(JackDevices& devices, const AudioDevice& device,
                                              std::string_view role, AudioDevice::Scope scope);
};

// The notice a run's JackConfigurationWatch gives: posted to the main thread through `context`, where it
// calls `*onChange` unless its owner was restarted, stopped or destroyed since (the owner's counter no
// longer reads `generation`, or is gone). `onChange` belongs to the owner, which outlives its counter.
std::function<void()> configurationNotice(const JackContext& context, std::uint64_t generation,
                                          std::weak_ptr<std::uint64_t> counter,
                                          const std::function<void()>* onChange);

}  // namespace quillmark
