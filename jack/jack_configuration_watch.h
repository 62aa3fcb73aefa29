#pragma once
// JackConfigurationWatch: tells the owner of a running JACK client (the LTC input or output) that the
// configuration its run was built for no longer holds: the server shut down, or its sample rate or buffer
// size changed. JACK reports a sample rate and a buffer size also when nothing changed (jackd2 calls the
// handlers once on registration and activation), so only a value different from the one the run was set up
// with counts. Each notice calls `notify` on JACK's notification thread; `notify` posts to the main thread.
// Threads: constructed and installed on the main thread before jack_activate; the handlers run on JACK's
// notification thread, which may allocate. Destroy only after the client is closed or abandoned. An
// abandoned client (its server went away) may still be inside the shutdown handler when its run ends, or
// deliver its notice only after the run, this watch and the client object are gone: the handlers use only
// a Hook the client keeps alive for them (JackClient::keepForCallbacks), which the destructor detaches
// under the hook's mutex, so a late notice finds it and does nothing.

#include <jack/jack.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "jack/jack_client.h"

namespace quillmark {

class JackConfigurationWatch {
 public:
  JackConfigurationWatch(JackClient& client, std::function<void()> notify);
  ~JackConfigurationWatch();
  JackConfigurationWatch(const JackConfigurationWatch&) = delete;
  JackConfigurationWatch& operator=(const JackConfigurationWatch&) = delete;

 private:
  static void onShutdown(jack_status_t, const char*, void* self);
  static int onSampleRate(jack_nframes_t rate, void* self);
  static int onBufferSize(jack_nframes_t frames, void* self);

  struct Hook {
    std::mutex mutex;                               // held by a handler while it runs, and by the destructor
    bool attached = true;                           // false once the watch is gone: the handlers do nothing
    std::shared_ptr<std::atomic<bool>> serverGone;  // the client's JackClient::serverGoneFlag
    jack_nframes_t sampleRate = 0;
    jack_nframes_t bufferSize = 0;
    std::function<void()> notify;
  };
  std::shared_ptr<Hook> hook_;
};

}  // namespace quillmark
