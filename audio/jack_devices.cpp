#include "audio/jack_devices.h"

#include <jack/metadata.h>
#include <jack/uuid.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "jack/jack_metadata_lock.h"

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

bool naturalLess(std::string_view a, std::string_view b) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Compare the runs of digits by value: leading zeros dropped, then the longer run is larger.
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      std::size_t ei = i, ej = j;
      while (ei < a.size() && isDigit(a[ei])) ++ei;
      while (ej < b.size() && isDigit(b[ej])) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j;
      const int order = a.substr(i, ei - i).compare(b.substr(j, ej - j));
      if (order != 0) return order < 0;
      i = ei;
      j = ej;
      continue;
    }
    const auto ca = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(a[i])));
    const auto cb = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(b[j])));
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // equal but for case or leading zeros ("Ch1", "ch01"): any fixed order
}

std::vector<std::string> jackDevicePorts(jack_client_t* client, std::string_view clientName,
                                         AudioDevice::Scope scope) {
  std::vector<std::string> result;
  PortList ports(jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, portFlagsFor(scope)));
  for (const char** p = ports.names; p && *p; ++p) {
    if (jackClientOfPort(*p) == clientName) result.emplace_back(*p);
  }
  // The order metadata counts only when every port has it; a device that numbers some of its ports is
  // better sorted by name throughout than half by one rule and half by another. jackd2 keeps what a
  // client sets; PipeWire's JACK layer sets no order on the ports it makes for its nodes, whose names
  // ("capture_FL", "playback_AUX1") then sort by name.
  std::vector<std::pair<long, std::string>> keyed;
  for (const std::string& name : result) {
    jack_port_t* port = jack_port_by_name(client, name.c_str());
    if (!port) break;
    char* value = nullptr;
    char* type = nullptr;
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    if (jack_get_property(jack_port_uuid(port), JACK_METADATA_ORDER, &value, &type) != 0) break;
    char* end = nullptr;
    const long order = value ? std::strtol(value, &end, 10) : 0;
    const bool parsed = value && end != value;
    jack_free(value);
    jack_free(type);
    if (!parsed) break;
    keyed.emplace_back(order, name);
  }
  if (!result.empty() && keyed.size() == result.size()) {
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : naturalLess(a.second, b.second);
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) result[i] = std::move(keyed[i].second);
  } else {
    std::sort(result.begin(), result.end(), naturalLess);
  }
  return result;
}

JackDevices::JackDevices(JackContext context) : context_(std::move(context)) {}

JackDevices::~JackDevices() {
  // Closing the client ends its notices (jack_client_close waits for the notification thread), so none
  // can reach the members torn down after this.
  closeMonitor();
}

void JackDevices::closeMonitor() {
  monitorClient_.store(nullptr);
  monitor_.reset();
}

jack_client_t* JackDevices::monitor() {
  // Clients reach the server JACK_DEFAULT_SERVER names; when that changes, the old one is not ours any more.
  const char* named = std::getenv("JACK_DEFAULT_SERVER");
  const std::string server = named ? named : "default";
  const std::optional<std::uint64_t> identity = jackServerIdentity();
  if (serverGone_.exchange(false) || server != monitorServer_ || identity != monitorIdentity_) {
    if (monitor_ && identity != monitorIdentity_) monitor_->noteServerGone();  // PipeWire: gone unannounced
    closeMonitor();
  }
  monitorServer_ = server;
  monitorIdentity_ = identity;
  if (monitor_) return monitor_->get();
  auto client = JackClient::open(context_.clientName("devices"));
  if (!client) return nullptr;
  // A pass the poster dropped (no poster, or a test's main loop already gone) never ran; the new
  // monitor's notices must not wait for it.
  checkPending_.store(false);
  jack_client_t* c = client->get();
  jack_set_client_registration_callback(c, onClientRegistration, this);
  jack_set_port_registration_callback(c, onPortRegistration, this);
  {
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    jack_set_property_change_callback(c, onPropertyChange, this);
  }
  monitorClient_.store(client.get());
  jack_on_info_shutdown(c, onShutdown, this);
  if (jack_activate(c) != 0) {
    monitorClient_.store(nullptr);
    return nullptr;
  }
  monitor_ = std::move(client);
  return c;
}

std::vector<AudioDevice> JackDevices::list(AudioDevice::Scope scope) {
  std::vector<AudioDevice> devices;
  jack_client_t* client = monitor();
  if (!client) return devices;
  PortList ports(jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, portFlagsFor(scope)));
  // The count is the number of a client's ports in the direction.
  struct Client {
    std::string name;
    int count = 0;
    bool physical = false;
  };
  std::vector<Client> clients;
  for (const char** p = ports.names; p && *p; ++p) {
    const std::string_view owner = jackClientOfPort(*p);
    if (isQuillmarkJackClient(owner)) continue;
    auto it = std::find_if(clients.begin(), clients.end(), [&](const Client& c) { return c.name == owner; });
    if (it == clients.end()) it = clients.insert(clients.end(), Client{std::string(owner), 0, false});
    ++it->count;
    jack_port_t* port = jack_port_by_name(client, *p);
    if (port && (jack_port_flags(port) & JackPortIsPhysical)) it->physical = true;
  }
  // Hardware first, then by name: JACK lists ports by internal id, so its order would change with the
  // order in which programs started.
  std::sort(clients.begin(), clients.end(), [](const Client& a, const Client& b) {
    return a.physical != b.physical ? a.physical : naturalLess(a.name, b.name);
  });
  for (const auto& [clientName, count, physical] : clients) {
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
  if (ports.names && ports.names[0]) {
    const std::string_view owner = jackClientOfPort(ports.names[0]);
    if (isQuillmarkJackClient(owner)) return std::nullopt;
    return idFor(std::string(owner));
  }
  // No hardware: PipeWire marks the ports of virtual sinks and sources (and of some null devices) as not
  // physical. The first listed device stands in.
  const std::vector<AudioDevice> devices = list(scope);
  if (devices.empty()) return std::nullopt;
  return devices.front().id;
}

std::vector<std::string> JackDevices::portsOf(std::string_view clientName, AudioDevice::Scope scope) {
  jack_client_t* client = monitor();
  if (!client) return {};
  return jackDevicePorts(client, clientName, scope);
}

JackDevices::ObserverID JackDevices::observe(std::function<void()> callback) {
  monitor();  // opened now, so that notices flow from the start
  const ObserverID id = nextObserver_++;
  observers_.emplace_back(id, std::move(callback));
  return id;
}

void JackDevices::removeObserver(ObserverID id) {
  std::erase_if(observers_, [id](const auto& observer) { return observer.first == id; });
}

std::uint32_t JackDevices::idFor(const std::string& clientName) {
  MutexLock guard(idsMutex_);
  auto it = ids_.find(clientName);
  if (it != ids_.end()) return it->second;
  const std::uint32_t id = nextID_++;
  ids_.emplace(clientName, id);
  return id;
}

std::optional<std::string> JackDevices::clientNameFor(std::uint32_t id) {
  MutexLock guard(idsMutex_);
  for (const auto& [name, known] : ids_) {
    if (known == id) return name;
  }
  return std::nullopt;
}

void JackDevices::noteGraphChange() noexcept {
  if (checkPending_.exchange(true)) return;  // a check is already on its way
  try {
    context_.post([weak = std::weak_ptr<JackDevices*>(self_)] {
      const std::shared_ptr<JackDevices*> self = weak.lock();
      if (!self) return;  // the monitor is gone
      (*self)->checkPending_.store(false);
      (*self)->checkForChanges();
    });
  } catch (...) {
    checkPending_.store(false);  // out of memory on a notification thread: the next notice tries again
  }
}

void JackDevices::checkForChanges() {
  // Every pass reaches the observers, also when the lists would read the same: a device that left and
  // came back between two passes, or a port re-registered under its old name, leaves equal lists but cuts
  // our connections to it. The observers tell for themselves whether what they run is touched, and read
  // the lists themselves (which also reopens the monitor after its server went away).
  // Copied: an observer may register or remove one; one removed during this pass is not called after.
  const auto observers = observers_;
  for (const auto& [id, observer] : observers) {
    const bool registered = std::any_of(observers_.begin(), observers_.end(),
                                        [id = id](const auto& current) { return current.first == id; });
    if (registered && observer) observer();
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

void JackDevices::onShutdown(jack_status_t, const char*, void* self) {
  auto* devices = static_cast<JackDevices*>(self);
  // Marked before serverGone_ is raised: the main thread lets go of the client only after it saw that.
  if (JackClient* client = devices->monitorClient_.load()) client->noteServerGone();
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
