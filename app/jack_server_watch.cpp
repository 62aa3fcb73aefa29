#include "app/jack_server_watch.h"

#include <jack/jack.h>

#include <QMetaObject>
#include <QPointer>
#include <cstdio>

#include "audio/jack_client.h"

namespace quillmark {
namespace {

// Set on the probe thread, whose failed attempts are expected and not worth a line on standard error.
thread_local bool quietJackErrors = false;
// Set while no server is reachable: every JACK call then fails with the same few lines, once per device
// list, port list and client, which say nothing the store's own log line does not.
std::atomic<bool> serverUnreachable{false};

void filteredJackMessage(const char* message) {
  if (quietJackErrors || serverUnreachable.load(std::memory_order_relaxed)) return;
  std::fprintf(stderr, "%s\n", message);
}

}  // namespace

JackServerWatch::JackServerWatch(int retryMilliseconds, QObject* parent)
    : QObject(parent), retry_(new QTimer(this)) {
  jack_set_error_function(filteredJackMessage);
  jack_set_info_function(filteredJackMessage);
  retry_->setInterval(retryMilliseconds);
  connect(retry_, &QTimer::timeout, this, &JackServerWatch::startProbe);
  if (!connectClient()) retry_->start();
}

JackServerWatch::~JackServerWatch() {
  retry_->stop();
  // A probe on a server that does not exist fails at once; one that answers opens and closes a client.
  if (probe_.joinable()) probe_.join();
  client_.reset();
}

bool JackServerWatch::connectClient() {
  {
    quietJackErrors = true;  // this attempt's failure is reported by the store's log line
    client_ = JackClient::open("Quillmark watch");
    quietJackErrors = false;
  }
  serverUnreachable.store(!client_);
  if (!client_) return false;
  jack_on_info_shutdown(client_->get(), &onShutdown, this);
  if (jack_activate(client_->get()) != 0) {
    client_.reset();
    return false;
  }
  return true;
}

void JackServerWatch::startProbe() {
  if (probing_.load()) return;
  if (probe_.joinable()) probe_.join();  // finished: probing_ is cleared only at its end
  probing_.store(true);
  probe_ = std::thread([this] {
    quietJackErrors = true;
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Quillmark probe", JackNoStartServer, &status);
    const bool reachable = client != nullptr;
    if (client) jack_client_close(client);
    // Queued to this object: dropped if the watch is destroyed first (its destructor joins this thread).
    QMetaObject::invokeMethod(
        this, [this, reachable] { probeFinished(reachable); }, Qt::QueuedConnection);
    probing_.store(false);
  });
}

void JackServerWatch::probeFinished(bool reachable) {
  if (!reachable || client_) return;
  if (!connectClient()) return;  // gone again between the probe and now: the timer keeps trying
  retry_->stop();
  emit serverFound();
}

void JackServerWatch::onShutdown(jack_status_t, const char*, void* self) {
  // JACK's thread: hop to the main thread. The watch closes its client (which waits for this callback)
  // before it is destroyed, so `self` is alive here.
  auto* watch = static_cast<JackServerWatch*>(self);
  QMetaObject::invokeMethod(
      watch,
      [watch] {
        if (!watch->client_) return;
        watch->client_.reset();
        serverUnreachable.store(true);
        watch->retry_->start();
        emit watch->serverLost();
      },
      Qt::QueuedConnection);
}

}  // namespace quillmark
