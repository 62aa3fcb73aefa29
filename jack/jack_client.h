#pragma once
// JackClient: one open JACK client of Quillmark's, owned for as long as it is needed. It opens with
// JackNoStartServer, so neither a user nor a test ever starts a server by accident or waits for one, and
// it records the name JACK actually gave it (JACK appends a suffix when the name is taken) in the list of
// our own clients, which the device lists leave out. Closing it returns only after its process callback
// has finished for good, so whatever the callbacks point to may be freed right after.
//
// A client whose server went away is not closed but abandoned: with jackd2 1.9.21, closing such a client
// after another open of this process has failed (which is what looking for a server that is not there
// does) crashes inside jack_client_close on an already freed client. Abandoning costs a few kilobytes per
// server shutdown. Its process thread stays blocked for good once the server is gone, but may still be
// inside a last cycle when the shutdown notice arrives; a process callback set through setProcessCallback
// is therefore waited for (half a second at most) before the destructor returns, so that the callbacks'
// data may be freed right after here too, and ThreadSanitizer sees that order.
// Threads: open and destroy on the main thread.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark {

class JackClient {
 public:
  // The client, or nullptr when no server runs or it refuses the client.
  static std::unique_ptr<JackClient> open(const std::string& name);
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  jack_client_t* get() const noexcept { return client_; }
  // jack_set_process_callback through the client, which notes when a cycle is inside `callback`.
  int setProcessCallback(JackProcessCallback callback, void* arg) noexcept;
  // Called from the client's shutdown handler (any thread): the server is gone, so do not close.
  void noteServerGone() noexcept { serverGone_->store(true); }
  // The flag noteServerGone sets, for a handler that may run after this object is gone: an abandoned
  // client's shutdown notice can arrive on libjack's thread after its owner has been freed.
  std::shared_ptr<std::atomic<bool>> serverGoneFlag() const noexcept { return serverGone_; }
  // Keeps `state` (what the client's notification handlers use) alive for as long as they may be called:
  // until the client is closed, or for the rest of the process once it is abandoned. Main thread.
  void keepForCallbacks(std::shared_ptr<void> state) { keptForCallbacks_.push_back(std::move(state)); }
  // Every client open now belongs to a server found gone (the server watch saw it before their own
  // shutdown notices came, or none will come): they are abandoned, not closed. Closing a client of a dead
  // server makes libjack cancel its threads, which may be inside a callback at that moment. Main thread.
  static void noteServerGoneForAllOpen() noexcept;
  const std::string& name() const noexcept { return name_; }

 private:
  JackClient(jack_client_t* client, std::string name);
  static int process(jack_nframes_t frames, void* self) noexcept;
  void waitForCycleToEnd() const noexcept;

  jack_client_t* client_;
  std::string name_;
  const std::shared_ptr<std::atomic<bool>> serverGone_ = std::make_shared<std::atomic<bool>>(false);
  std::vector<std::shared_ptr<void>> keptForCallbacks_;  // see keepForCallbacks
  const std::uint64_t serverEpoch_;         // the count of servers found gone when the client opened
  JackProcessCallback callback_ = nullptr;  // set before activation, read by the process thread
  void* callbackArgument_ = nullptr;
  std::atomic<bool> inCycle_{false};  // true while the process thread is inside callback_
};

// True when `clientName` is one of this process's open clients.
bool isOwnJackClient(std::string_view clientName);

// jack_client_open with JackNoStartServer, as every client of Quillmark's is opened. On PipeWire it first
// makes sure PipeWire's libjack will not skip our process cycles while one of our notification callbacks
// runs (see pipeWirePropsWithUnlockedCallbacks); with jackd it is jack_client_open and nothing more.
// Main thread (it may set an environment variable).
jack_client_t* openJackClient(const std::string& name, jack_status_t* status);

// Whether this process's libjack is PipeWire's rather than jackd2's (asked of the library, not a server).
bool jackIsPipeWire();

// PipeWire's libjack runs each notification callback (port and client registration, latency, properties)
// under a lock its process thread only tries, by default ("jack.locked-process"): a cycle that begins while
// one runs is skipped whole, and the clients downstream read that client's previous buffers a second time.
// On a loaded machine a program with many ports appearing then repeats a period of MTC or LTC. jackd never
// holds a cycle back for a notification, and our callbacks are written for that (they only record and post),
// so our clients turn the lock off through PIPEWIRE_PROPS, which PipeWire's libjack reads at every open.
// Returns the value PIPEWIRE_PROPS should have given its current one (`current`, empty when unset), or
// nothing when it should stay: a value that names the key already is the user's choice and wins.
std::optional<std::string> pipeWirePropsWithUnlockedCallbacks(std::string_view current);

// Which instance of the server this process's libjack reaches, for telling a server that was replaced
// from one that ran on. PipeWire's libjack sends its clients no shutdown notice when the daemon dies and
// answers their questions from its cache, so there the identity is that of the daemon's socket (its
// inode and time of creation, while it takes connections; none when it refuses them). With jackd, whose
// clients are told, always 0.
std::optional<std::uint64_t> jackServerIdentity();

// The base every client of an instance is named from: "Quillmark", or "Quillmark-<profile>" with a settings
// profile, so that two instances on one server never take each other's names and a patchbay shows whose
// client is whose. The profile is cut to fit JACK's name limit with room for the longest role and the
// suffix JACK appends on a clash, and a ':' (which separates client from port) becomes '-'.
std::string jackClientBase(const std::optional<std::string>& profile);

// True for a client of any Quillmark process: its name is "Quillmark" or starts with "Quillmark " or
// "Quillmark-" (the latter also covers jackd2's "-01" on a clash). Such clients are never devices: two
// instances on one server would otherwise list each other's LTC clients and restart on each other's
// comings and goings.
bool isQuillmarkJackClient(std::string_view clientName);

}  // namespace quillmark
