#include "audio/jack_devices.h"

#include <jack/metadata.h>
#include <jack/uuid.h>

#include <algorithm>
#include <cstdlib>

#include "audio/jack_metadata_lock.h"
#include "audio/main_thread.h"

namespace quillmark {
namespace {

// Seen from JACK's side: what we capture comes out of another client's output ports.
unsigned long portFlagsFor(AudioDevice::Scope scope) {
  return scope == AudioDevice::Scope::input ? JackPortIsOutput : JackPortIsInput;
}

// jack_get_ports' list, owned: freed with jack_free.
struct PortList {
  explicit PortList(const char** names) : names(names) {}
  ~PortList() {
    if (names) jack_free(names);
  }
  PortList(const PortList&) = delete;
  PortList& operator=(const PortList&) = delete;
  const char** names;
};

std::string prettyName(jack_client_t* client, const std::string& clientName) {
  std::string result;
  char* uuidText = jack_get_uuid_for_client_name(client, clientName.c_str());
  if (!uuidText) return result;
  jack_uuid_t uuid{};
  if (jack_uuid_parse(uuidText, &uuid) == 0) {
    char* value = nullptr;
    char* type = nullptr;
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    if (jack_get_property(uuid, JACK_METADATA_PRETTY_NAME, &value, &type) == 0) {
      if (value) result = value;
      jack_free(value);
      jack_free(type);
    }
  }
  jack_free(uuidText);
  return result;
}

}  // namespace

std::string_view jackClientOfPort(std::string_view portName) {
  const auto colon = portName.find(':');
  return colon == std::string_view::npos ? portName : portName.substr(0, colon);
}

std::vector<std::string> jackDevicePorts(jack_client_t* client, std::string_view clientName,
                                         AudioDevice::Scope scope) {
  std::vector<std::string> result;
  PortList ports(jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, portFlagsFor(scope)));
  for (const char** p = ports.names; p && *p; ++p) {
    if (jackClientOfPort(*p) == clientName) result.emplace_back(*p);
  }
  return result;
}

JackDevices& JackDevices::shared() {
  // Never destroyed: JACK's notification thread may still reach it while static objects are torn down.
  static JackDevices* const instance = new JackDevices();
  return *instance;
}

jack_client_t* JackDevices::monitor() {
  // Clients reach the server JACK_DEFAULT_SERVER names; when that changes, the old one is not ours any more.
  const char* named = std::getenv("JACK_DEFAULT_SERVER");
  const std::string server = named ? named : "default";
  if (serverGone_.exchange(false) || server != monitorServer_) monitor_.reset();
  monitorServer_ = server;
  if (monitor_) return monitor_->get();
  auto client = JackClient::open("Quillmark devices");
  if (!client) return nullptr;
  jack_client_t* c = client->get();
  jack_set_client_registration_callback(c, onClientRegistration, this);
  jack_set_port_registration_callback(c, onPortRegistration, this);
  {
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    jack_set_property_change_callback(c, onPropertyChange, this);
  }
  jack_on_info_shutdown(c, onShutdown, client.get());
  if (jack_activate(c) != 0) return nullptr;
  monitor_ = std::move(client);
  return c;
}

std::vector<AudioDevice> JackDevices::list(AudioDevice::Scope scope) {
  std::vector<AudioDevice> devices;
  jack_client_t* client = monitor();
  if (!client) return devices;
  PortList ports(jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, portFlagsFor(scope)));
  // Clients in the order of their first port; the count is the number of their ports in the direction.
  std::vector<std::pair<std::string, int>> clients;
  for (const char** p = ports.names; p && *p; ++p) {
    const std::string_view owner = jackClientOfPort(*p);
    if (isOwnJackClient(owner)) continue;
    auto it = std::find_if(clients.begin(), clients.end(), [&](const auto& c) { return c.first == owner; });
    if (it == clients.end()) {
      clients.emplace_back(std::string(owner), 1);
    } else {
      ++it->second;
    }
  }
  for (auto& [clientName, count] : clients) {
    AudioDevice device;
    device.id = idFor(clientName);
    device.uid = clientName.empty() ? std::to_string(device.id) : clientName;
    device.name = prettyName(client, clientName);
    if (device.name.empty()) device.name = clientName.empty() ? "Audio device" : clientName;
    device.channels = count;
    devices.push_back(std::move(device));
  }
  return devices;
}

std::optional<std::uint32_t> JackDevices::defaultDeviceID(AudioDevice::Scope scope) {
  jack_client_t* client = monitor();
  if (!client) return std::nullopt;
  PortList ports(
      jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, portFlagsFor(scope) | JackPortIsPhysical));
  if (!ports.names || !ports.names[0]) return std::nullopt;
  const std::string_view owner = jackClientOfPort(ports.names[0]);
  if (isOwnJackClient(owner)) return std::nullopt;
  return idFor(std::string(owner));
}

void JackDevices::observe(std::function<void()> callback) {
  if (observers_.empty()) {
    // The baseline the first notice is compared with.
    lastInputs_ = list(AudioDevice::Scope::input);
    lastOutputs_ = list(AudioDevice::Scope::output);
  }
  observers_.push_back(std::move(callback));
}

std::uint32_t JackDevices::idFor(const std::string& clientName) {
  std::lock_guard<std::mutex> guard(idsMutex_);
  auto it = ids_.find(clientName);
  if (it != ids_.end()) return it->second;
  const std::uint32_t id = nextID_++;
  ids_.emplace(clientName, id);
  return id;
}

std::optional<std::string> JackDevices::clientNameFor(std::uint32_t id) {
  std::lock_guard<std::mutex> guard(idsMutex_);
  for (const auto& [name, known] : ids_) {
    if (known == id) return name;
  }
  return std::nullopt;
}

void JackDevices::noteGraphChange() noexcept {
  if (checkPending_.exchange(true)) return;  // a check is already on its way
  try {
    postToMainThread([this] {
      checkPending_.store(false);
      checkForChanges();
    });
  } catch (...) {
    checkPending_.store(false);  // out of memory on a notification thread: the next notice tries again
  }
}

void JackDevices::checkForChanges() {
  auto inputs = list(AudioDevice::Scope::input);
  auto outputs = list(AudioDevice::Scope::output);
  if (inputs == lastInputs_ && outputs == lastOutputs_) return;
  lastInputs_ = std::move(inputs);
  lastOutputs_ = std::move(outputs);
  // Copied: an observer may register another one.
  const auto observers = observers_;
  for (const auto& observer : observers) {
    if (observer) observer();
  }
}

void JackDevices::onClientRegistration(const char*, int, void* self) {
  static_cast<JackDevices*>(self)->noteGraphChange();
}

void JackDevices::onPortRegistration(jack_port_id_t, int, void* self) {
  static_cast<JackDevices*>(self)->noteGraphChange();
}

void JackDevices::onPropertyChange(jack_uuid_t, const char*, jack_property_change_t, void* self) {
  static_cast<JackDevices*>(self)->noteGraphChange();
}

void JackDevices::onShutdown(jack_status_t, const char*, void* client) {
  static_cast<JackClient*>(client)->noteServerGone();
  JackDevices* devices = &shared();
  devices->serverGone_.store(true);
  devices->noteGraphChange();
}

jack_nframes_t jackPortLatency(jack_client_t* client, const std::string& portName,
                               jack_latency_callback_mode_t mode) {
  jack_port_t* port = jack_port_by_name(client, portName.c_str());
  if (!port) return 0;
  jack_latency_range_t range{};
  jack_port_get_latency_range(port, mode, &range);
  return range.max;
}

}  // namespace quillmark
