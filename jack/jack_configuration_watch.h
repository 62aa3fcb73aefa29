#pragma once
// JackConfigurationWatch: tells the owner of a running JACK client (the LTC input or output) that the
// configuration its run was built for no longer holds: the server shut down, or its sample rate or buffer
// size changed. JACK reports a sample rate and a buffer size also when nothing changed (jackd2 calls the
// handlers once on registration and activation), so only a value different from the one the run was set up
// with counts. Each notice calls `notify` on JACK's notification thread; `notify` posts to the main thread.
// Threads: constructed and installed on the main thread before jack_activate; the handlers run on JACK's
// notification thread, which may allocate. Destroy only after the client is closed or abandoned. An
// abandoned client (its server went away) may still be inside the shutdown handler when its run ends:
// each handler holds mutex_ for as long as it touches the watch, and the destructor takes it, so the
// watch is never freed under a handler.

#include <jack/jack.h>

#include <functional>
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

  JackClient& client_;
  const jack_nframes_t sampleRate_;
  const jack_nframes_t bufferSize_;
  const std::function<void()> notify_;
  std::mutex mutex_;  // held by a handler while it runs, and by the destructor
};

}  // namespace quillmark
