#pragma once
// JackServerWatch tells the store whether a JACK server is reachable. While one is, it keeps a port-less
// client of its own open ("<base> watch", the name it is given) to hear when the server goes away,
// and can confirm on demand that the server still answers. While none is, it tries again every interval from
// the main thread's event loop; an attempt on a machine with no server fails at once (the server's socket is
// missing), so the retry never holds up the main thread. Failed attempts are silent: libjack's complaints are
// dropped while no server is reachable instead of reaching standard error every two seconds.
//
// PipeWire's libjack sends no shutdown notice when the PipeWire daemon dies and answers from its cache, so
// there the watch also verifies every interval, by whether the daemon's socket still takes a connection.
//
// libjack frees every client of a process whose server died the moment the process opens a new one, so
// whoever owns such a client must close it first. The store does that on serverLost, before anything
// opens a client again; this watch closes its own client before it emits.
// Threads: main thread; serverLost and serverFound are emitted there.

#include <QObject>
#include <QTimer>
#include <string>

#include "jack/jack_server_probe.h"

namespace quillmark {

class JackServerWatch : public QObject {
  Q_OBJECT
 public:
  // Checks once, synchronously, so isReachable() is known as soon as this returns; retries every
  // `retryMilliseconds` while no server is reachable. The watch's client is opened as `clientName`.
  JackServerWatch(int retryMilliseconds, std::string clientName, QObject* parent = nullptr);
  ~JackServerWatch() override;

  bool isReachable() const noexcept { return probe_.isOpen(); }

  // Asks the server a question through the watch's client. When it does not answer, the server is gone:
  // the client is closed, serverLost is emitted (synchronously) and the retries begin. Returns whether a
  // server is reachable afterwards.
  bool verify();

 signals:
  // The server this watch was connected to has gone away.
  void serverLost();
  // A server is reachable again after a loss or after an unreachable start.
  void serverFound();

 private:
  bool connectClient();
  void retry();
  void lose();

  const std::string clientName_;
  JackServerProbe probe_;
  QTimer* retry_;  // child of this watch
  QTimer* poll_;   // child of this watch: verifies every interval on PipeWire, which sends no shutdown notice
};

}  // namespace quillmark
