#pragma once
// JackServerWatch tells the store whether a JACK server is reachable. While one is, it keeps a port-less
// client of its own open ("Quillmark watch") to hear at once when the server goes away. While none is, it
// tries again every interval on a short-lived worker thread, so a server that is slow to answer never
// blocks the main thread. The attempts are silent: libjack's "cannot connect" complaints from the worker
// are dropped instead of reaching standard error every two seconds.
// Threads: main thread; serverLost and serverFound are emitted there.

#include <jack/types.h>

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

namespace quillmark {

class JackClient;

class JackServerWatch : public QObject {
  Q_OBJECT
 public:
  // Checks once, synchronously, so isReachable() is known as soon as this returns; retries every
  // `retryMilliseconds` while no server is reachable.
  JackServerWatch(int retryMilliseconds, QObject* parent = nullptr);
  ~JackServerWatch() override;

  bool isReachable() const noexcept { return client_ != nullptr; }

 signals:
  // The server this watch was connected to has gone away.
  void serverLost();
  // A server is reachable again after a loss or after an unreachable start.
  void serverFound();

 private:
  bool connectClient();
  void startProbe();
  void probeFinished(bool reachable);
  static void onShutdown(jack_status_t code, const char* reason, void* self);

  std::unique_ptr<JackClient> client_;
  QTimer* retry_;  // child of this watch
  std::thread probe_;
  std::atomic<bool> probing_{false};
};

}  // namespace quillmark
