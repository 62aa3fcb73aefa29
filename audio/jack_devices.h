#pragma once
// JackDevices: the device monitor, one application instance's view of the JACK graph as audio devices.
// It lists the devices, finds the default ones, tells its observers when the graph changes, and binds the
// LTC input and output to a device (they are built on it). It keeps one port-less "<base> devices" client
// open (opened on first use, reopened after its server went away) to list ports and to receive JACK's
// client, port and pretty-name notices, and the table of device ids: each client name gets a number the
// first time it is seen, kept for as long as the monitor lives.
//
// Notices arrive on JACK's notification thread and in bursts (a client registers, then each of its ports).
// They only raise a flag; the first one posts one pass to the main thread through the context's poster,
// which calls the observers once for the whole burst. The observers decide what a change touches: on JACK
// every program with audio ports is a device, so most changes touch nothing that runs.
//
// Ownership: the owner (the store) keeps it longer than everything built on it (the engine's input and
// output). Destroying it closes its client, so no notice arrives after, and a pass still queued with the
// poster does nothing.
// Threads: main thread, except the notice handlers, which touch only atomics and post.

#include <jack/jack.h>
#include <jack/metadata.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/audio_device.h"
#include "core/mutex.h"
#include "jack/jack_client.h"
#include "jack/jack_context.h"

namespace quillmark {

class JackDevices {
 public:
  // Opens nothing yet: the client opens on first use. Its client and the inputs' and outputs' clients are
  // named and post their notices through `context`.
  explicit JackDevices(JackContext context);
  ~JackDevices();
  JackDevices(const JackDevices&) = delete;
  JackDevices& operator=(const JackDevices&) = delete;

  const JackContext& context() const noexcept { return context_; }

  // The clients with at least one audio port in `scope` (see AudioDevice), in a stable order (hardware
  // first, then by a natural sort of their client names). Empty when no JACK server is running; never
  // starts or waits for one.
  std::vector<AudioDevice> list(AudioDevice::Scope scope);
  // The id of the client owning the first physical capture (input) or playback (output) port, else of the
  // first listed device; none when there is no device or no server.
  std::optional<std::uint32_t> defaultDeviceID(AudioDevice::Scope scope);

  // Registers `callback` to run on the main thread after the JACK graph changed (a client or a port
  // appeared or left, or a pretty name changed), once per burst of changes. It runs also when the lists
  // read the same as before: a device that left and came back within one burst lists the same but has
  // lost its connections. Returns the number that removes it; it goes with the monitor at the latest.
  using ObserverID = std::uint64_t;
  ObserverID observe(std::function<void()> callback);
  void removeObserver(ObserverID id);

  // The number kept for `clientName`; a new one when the name was never seen.
  std::uint32_t idFor(const std::string& clientName);
  // The client name behind an id handed out earlier; none for an unknown id.
  std::optional<std::string> clientNameFor(std::uint32_t id);
  // The full names of the ports of the device `clientName` in `scope`, in its channel order (see
  // jackDevicePorts); empty when it has none or there is no server.
  std::vector<std::string> portsOf(std::string_view clientName, AudioDevice::Scope scope);

 private:
  jack_client_t* monitor();
  void closeMonitor();
  void noteGraphChange() noexcept;
  void checkForChanges();

  static void onClientRegistration(const char*, int, void* self);
  static void onPortRegistration(jack_port_id_t, int, void* self);
  static void onPropertyChange(jack_uuid_t, const char*, jack_property_change_t, void* self);
  static void onShutdown(jack_status_t, const char*, void* self);

  // Constant after construction.
  const JackContext context_;
  // Held by the monitor; the passes it posts hold it weakly and do nothing once it is gone.
  const std::shared_ptr<JackDevices*> self_ = std::make_shared<JackDevices*>(this);

  // Touched by the notification thread.
  std::atomic<bool> checkPending_{false};
  std::atomic<bool> serverGone_{false};
  std::atomic<JackClient*> monitorClient_{nullptr};  // monitor_'s client, for its shutdown notice

  // Main thread only.
  std::unique_ptr<JackClient> monitor_;
  std::string monitorServer_;                     // the server monitor_ was opened on
  std::optional<std::uint64_t> monitorIdentity_;  // and its jackServerIdentity()
  std::vector<std::pair<ObserverID, std::function<void()>>> observers_;
  ObserverID nextObserver_ = 1;

  Mutex idsMutex_;
  std::map<std::string, std::uint32_t, std::less<>> ids_ QM_GUARDED_BY(idsMutex_);
  std::uint32_t nextID_ QM_GUARDED_BY(idsMutex_) = 1;
};

// The client part of a full port name ("system:capture_1" -> "system").
std::string_view jackClientOfPort(std::string_view portName);

// Full names of `clientName`'s audio ports that make it a device in `scope` (its output ports for the
// input scope, its input ports for the output scope), in the device's channel order: by the port order
// metadata where every port has one, else by a natural sort of the names ("ch2" before "ch10"). Never in
// JACK's own listing order, which follows internal port ids that a later port can take over from a freed
// one. Empty when there are none.
std::vector<std::string> jackDevicePorts(jack_client_t* client, std::string_view clientName,
                                         AudioDevice::Scope scope);

// Whether `a` sorts before `b` when runs of digits are compared by their value and letters regardless of
// case ("Deck 2" before "deck 10").
bool naturalLess(std::string_view a, std::string_view b);

// The latency JACK declares for the port named `portName` in `mode` (the largest of its range), in frames;
// 0 when there is no such port. Read from a device's port right after connecting to it, it is the latency
// JACK will work out for our end of the connection, known before JACK's latency pass reaches our client.
jack_nframes_t jackPortLatency(jack_client_t* client, const std::string& portName,
                               jack_latency_callback_mode_t mode);

}  // namespace quillmark
