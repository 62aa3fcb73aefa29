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
// server shutdown; the process threads of such a client have ended with the server.
// Threads: open and destroy on the main thread.

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

namespace quillmark {

class JackClient {
 public:
  // The client, or nullptr when no server runs or it refuses the client.
  static std::unique_ptr<JackClient> open(const std::string& name);
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  jack_client_t* get() const noexcept { return client_; }
  // Called from the client's shutdown handler (any thread): the server is gone, so do not close.
  void noteServerGone() noexcept { serverGone_.store(true); }
  const std::string& name() const noexcept { return name_; }

 private:
  JackClient(jack_client_t* client, std::string name);

  jack_client_t* client_;
  std::string name_;
  std::atomic<bool> serverGone_{false};
};

// True when `clientName` is one of this process's open clients.
bool isOwnJackClient(std::string_view clientName);

}  // namespace quillmark
