#pragma once
// JackServerProbe holds the port-less client through which the application hears whether a JACK server is
// there: opening it tells whether one is reachable, asking it a question tells whether the server still
// answers, and its shutdown notice says when the server went away. The application's server watch drives
// it from its event loop (retries, polling, signals); this class is all of that watch's JACK.
//
// While no server is reachable, libjack's complaints (the same few lines for every device list, port list
// and client) are dropped from standard error, as are the lines every client's thread prints the moment
// its server dies: the application's own log line says it once and better.
// Threads: main thread, except that the shutdown callback runs on libjack's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillmark {

class JackClient;

class JackServerProbe {
 public:
  // Installs the filter over libjack's error and info messages (for the whole process: libjack has one).
  JackServerProbe();
  ~JackServerProbe();
  JackServerProbe(const JackServerProbe&) = delete;
  JackServerProbe& operator=(const JackServerProbe&) = delete;

  // PipeWire's libjack sends no shutdown notice when its daemon dies and answers from its cache, so a
  // watch there must ask every so often; true on PipeWire and while no server has been seen yet.
  static bool needsPolling();

  // Opens the probe's client under `clientName` ("<base> watch"); `onShutdown` runs on libjack's thread
  // when the server goes away. Returns whether a server is reachable.
  bool open(const std::string& clientName, std::function<void()> onShutdown);
  bool isOpen() const noexcept { return client_ != nullptr; }
  // Whether the server still answers the probe's client (and, on PipeWire, is the same daemon).
  bool answers() const;
  // Closes the probe's client after the server was found gone: every client of ours is marked as
  // belonging to a dead server first (abandoned, not closed), and libjack's complaints are dropped until
  // the next successful open.
  void closeGone();

  // While no server is reachable libjack's complaints are dropped; the first open's failure is reported by
  // the application's own log line.
  static void setUnreachable(bool unreachable);

 private:
  static void onShutdown(int code, const char* reason, void* self);

  std::unique_ptr<JackClient> client_;
  std::optional<std::uint64_t> identity_;  // jackServerIdentity() when client_ was opened
  std::function<void()> onShutdown_;
};

}  // namespace quillmark
