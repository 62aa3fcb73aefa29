#include "app/jack_server_watch.h"

#include <jack/jack.h>

#include <QMetaObject>
#include <atomic>

#include <cstdio>
#include <string>
#include <string_view>

#include "audio/jack_client.h"

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

JackServerWatch::JackServerWatch(int retryMilliseconds, QObject* parent)
    : QObject(parent), retry_(new QTimer(this)), poll_(new QTimer(this)) {
  jack_set_error_function(filteredJackMessage);
  jack_set_info_function(filteredJackMessage);
  retry_->setInterval(retryMilliseconds);
  connect(retry_, &QTimer::timeout, this, &JackServerWatch::retry);
  poll_->setInterval(retryMilliseconds);
  connect(poll_, &QTimer::timeout, this, &JackServerWatch::verify);
  if (jackServerIdentity() != std::optional<std::uint64_t>(0)) poll_->start();  // PipeWire, or none yet
  serverUnreachable.store(true);  // this first attempt's failure is reported by the store's log line
  if (!connectClient()) retry_->start();
}

JackServerWatch::~JackServerWatch() = default;

bool JackServerWatch::connectClient() {
  identity_ = jackServerIdentity();
  client_ = JackClient::open(jackClientName("watch"));
  if (client_) {
    jack_on_info_shutdown(client_->get(), &onShutdown, this);
    if (jack_activate(client_->get()) != 0) client_.reset();
  }
  serverUnreachable.store(!client_);
  return client_ != nullptr;
}

void JackServerWatch::retry() {
  if (client_ || !connectClient()) return;
  retry_->stop();
  emit serverFound();
}

bool JackServerWatch::verify() {
  if (!client_) return false;
  char* uuid = jack_get_uuid_for_client_name(client_->get(), client_->name().c_str());
  if (uuid && jackServerIdentity() != identity_) {  // PipeWire's daemon died, or was replaced
    jack_free(uuid);
    uuid = nullptr;
  }
  if (uuid) {
    jack_free(uuid);
    return true;
  }
  lose();
  return false;
}

void JackServerWatch::lose() {
  if (!client_) return;
  serverUnreachable.store(true);
  // Found gone here, perhaps before libjack told the clients: every client of ours is abandoned.
  JackClient::noteServerGoneForAllOpen();
  client_.reset();
  retry_->start();
  emit serverLost();
}

void JackServerWatch::onShutdown(jack_status_t, const char*, void* self) {
  // JACK's thread: hop to the main thread. The watch closes its client (which waits for this callback)
  // before it is destroyed, so `self` is alive here.
  auto* watch = static_cast<JackServerWatch*>(self);
  serverUnreachable.store(true);
  QMetaObject::invokeMethod(
      watch, [watch] { watch->lose(); }, Qt::QueuedConnection);
}

}  // namespace quillmark
