#pragma once
// JackServer: an isolated JACK server with no hardware (the dummy back end, 48 kHz, 1024-frame periods,
// which avoid the xruns these VMs cause at small periods) for one test suite. It runs under a unique name,
// is selected for every client of this process through JACK_DEFAULT_SERVER, and is always stopped
// (SIGTERM, then SIGKILL) when the object goes away, even when a test fails. The environment it set is
// then put back as it found it, so a test that starts a server of its own while the suite's shared one
// runs leaves the later tests of the same process on the shared one.
//
// With QUILLMARK_TEST_SERVER=pipewire in the environment (and PipeWire's libjack first on the library path,
// as scripts/test.sh's pipewire stage arranges) the server is a private PipeWire instead: a session D-Bus,
// pipewire and wireplumber, in a runtime directory of their own (XDG_RUNTIME_DIR, set for this process and
// its children), with one null sink-and-source node described as "system" (two channels each way, like
// jackd's dummy hardware) as the only device. PipeWire's libjack ignores JACK_DEFAULT_SERVER and
// finds the server through the runtime directory.
// Threads: create and destroy it on the test's main thread.

#include <jack/jack.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/wait_for.h"

namespace quillmark::test {

class JackServer {
 public:
  // Starts the server and waits (at most 10 s) until a client can connect. Throws std::runtime_error when
  // it cannot start: the JACK tests must fail, never skip, when this happens.
  static std::unique_ptr<JackServer> start();
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // Whether the servers are private PipeWires (QUILLMARK_TEST_SERVER=pipewire) rather than jackd.
  static bool onPipeWire();

  // Kills the server with SIGKILL (a crash, as a test of server loss sees it) and waits for it to end.
  void kill();
  // Stops it with SIGTERM (an orderly shutdown) and waits for it to end.
  void stop();
  // Starts it again under the same name after stop() or kill(); throws like start().
  void restart();

 private:
  explicit JackServer(std::string name) : name_(std::move(name)) {}
  void launch();
  void launchPipeWire();
  void waitUntilReachable();
  void waitForExit();
  // Sets `key` for this process, keeping the value it replaces (the first time) for the destructor.
  void setEnvironment(const char* key, const std::string& value);

  std::string name_;
  pid_t pid_ = -1;                    // jackd, or pipewire
  std::vector<pid_t> companions_;     // with PipeWire: wireplumber and dbus-daemon, stopped after it
  int lockFd_ = -1;                   // holds this server's name against other test processes
  bool registryEntryLeaked_ = false;  // killed, and not started again under this name since
  std::vector<std::pair<std::string, std::optional<std::string>>> environmentBefore_;
};

}  // namespace quillmark::test
