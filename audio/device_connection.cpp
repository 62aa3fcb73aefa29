#include "audio/device_connection.h"

#include "audio/jack_devices.h"

namespace quillmark {

std::optional<DeviceConnection> DeviceConnection::open(JackDevices& devices, const AudioDevice& device,
                                                       std::string_view role, AudioDevice::Scope scope) {
  const std::optional<std::string> deviceClient = devices.clientNameFor(device.id);
  if (!deviceClient) return std::nullopt;
  DeviceConnection connection;
  connection.client = JackClient::open(devices.context().clientName(role));
  if (!connection.client) return std::nullopt;
  connection.devicePorts = jackDevicePorts(connection.client->get(), *deviceClient, scope);
  connection.sampleRate = jack_get_sample_rate(connection.client->get());
  if (connection.devicePorts.empty() || connection.sampleRate == 0) return std::nullopt;
  return connection;
}

std::function<void()> configurationNotice(const JackContext& context, std::uint64_t generation,
                                          std::weak_ptr<std::uint64_t> counter,
                                          const std::function<void()>* onChange) {
  return [poster = context.poster, generation, counter = std::move(counter), onChange] {
    if (!poster) return;
    poster([generation, counter, onChange] {
      const auto current = counter.lock();
      if (!current || *current != generation) return;  // owner gone, or restarted or stopped since
      if (*onChange) (*onChange)();
    });
  };
}

}  // namespace quillmark
