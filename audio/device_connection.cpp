#include "audio/device_connection.h"

#include "audio/jack_devices.h"
#include "jack/main_thread.h"

namespace quillmark {

std::optional<DeviceConnection> DeviceConnection::open(const AudioDevice& device,
                                                       const std::string& clientName,
                                                       AudioDevice::Scope scope) {
  const std::optional<std::string> deviceClient = JackDevices::shared().clientNameFor(device.id);
  if (!deviceClient) return std::nullopt;
  DeviceConnection connection;
  connection.client = JackClient::open(clientName);
  if (!connection.client) return std::nullopt;
  connection.devicePorts = jackDevicePorts(connection.client->get(), *deviceClient, scope);
  connection.sampleRate = jack_get_sample_rate(connection.client->get());
  if (connection.devicePorts.empty() || connection.sampleRate == 0) return std::nullopt;
  return connection;
}

std::function<void()> configurationNotice(std::uint64_t generation, std::weak_ptr<std::uint64_t> counter,
                                          const std::function<void()>* onChange) {
  return [generation, counter = std::move(counter), onChange] {
    postToMainThread([generation, counter, onChange] {
      const auto current = counter.lock();
      if (!current || *current != generation) return;  // owner gone, or restarted or stopped since
      if (*onChange) (*onChange)();
    });
  };
}

}  // namespace quillmark
