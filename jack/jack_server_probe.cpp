#include "jack/jack_server_probe.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "jack/jack_client.h"

namespace quillmark {
namespace {

// Set while no server is reachable: every JACK call then fails with the same few lines, once per device
// list, port list and client, which say nothing the store's own log line does not.
std::atomic<bool> serverUnreachable{false};

// What every client's thread of libjack says the moment its server dies, before the shutdown notice can
// mark the server unreachable: the store's own log line says it once and better. And what libjack says
// when we connect to a port another program has just taken away, which its departure notice follows.
bool saysServerDied(std::string_view message) {
  for (std::string_view known :
       {"Cannot read socket", "Cannot write socket", "CheckRes error", "JackSocketClientChannel read fail",
        "Could not read result", "Could not write request", "Server is not running", "Unknown source port",
        "Unknown destination port"}) {
    if (message.substr(0, known.size()) == known) return true;
  }
  return false;
}

void filteredJackMessage(const char* message) {
  if (serverUnreachable.load(std::memory_order_relaxed) || saysServerDied(message)) return;
  std::fprintf(stderr, "%s\n", message);
}

}  // namespace

JackServerProbe::JackServerProbe() {
  jack_set_error_function(filteredJackMessage);
  jack_set_info_function(filteredJackMessage);
}

JackServerProbe::~JackServerProbe() = default;

bool JackServerProbe::needsPolling() {
  return jackServerIdentity() != std::optional<std::uint64_t>(0);
}

void JackServerProbe::setUnreachable(bool unreachable) {
  serverUnreachable.store(unreachable);
}

bool JackServerProbe::open(const std::string& clientName, std::function<void()> onShutdown) {
  onShutdown_ = std::move(onShutdown);
  identity_ = jackServerIdentity();
  client_ = JackClient::open(clientName);
  if (client_) {
    jack_on_info_shutdown(
        client_->get(),
        [](jack_status_t code, const char* reason, void* self) {
          JackServerProbe::onShutdown(static_cast<int>(code), reason, self);
        },
        this);
    if (jack_activate(client_->get()) != 0) client_.reset();
  }
  serverUnreachable.store(!client_);
  return client_ != nullptr;
}

bool JackServerProbe::answers() const {
  if (!client_) return false;
  char* uuid = jack_get_uuid_for_client_name(client_->get(), client_->name().c_str());
  if (!uuid) return false;
  jack_free(uuid);
  return jackServerIdentity() == identity_;  // PipeWire's daemon died, or was replaced
}

void JackServerProbe::closeGone() {
  if (!client_) return;
  serverUnreachable.store(true);
  // Found gone here, perhaps before libjack told the clients: every client of ours is abandoned.
  JackClient::noteServerGoneForAllOpen();
  client_.reset();
}

void JackServerProbe::onShutdown(int, const char*, void* self) {
  // libjack's thread. The probe's client is closed (which waits for this callback) before the probe is
  // destroyed, so `self` is alive here.
  auto* probe = static_cast<JackServerProbe*>(self);
  serverUnreachable.store(true);
  if (probe->onShutdown_) probe->onShutdown_();
}

}  // namespace quillmark
