#include "jack/jack_configuration_watch.h"

#include <utility>

namespace quillmark {

JackConfigurationWatch::JackConfigurationWatch(JackClient& owner, std::function<void()> notify)
    : client_(owner),
      sampleRate_(jack_get_sample_rate(owner.get())),
      bufferSize_(jack_get_buffer_size(owner.get())),
      notify_(std::move(notify)) {
  jack_client_t* client = owner.get();
  jack_on_info_shutdown(client, onShutdown, this);
  jack_set_sample_rate_callback(client, onSampleRate, this);
  jack_set_buffer_size_callback(client, onBufferSize, this);
}

JackConfigurationWatch::~JackConfigurationWatch() {
  // Waits for a handler still running on JACK's notification thread (the shutdown notice of a server
  // that went away while the run was ending); none starts after the client is closed or its server gone.
  const std::lock_guard<std::mutex> guard(mutex_);
}

void JackConfigurationWatch::onShutdown(jack_status_t, const char*, void* self) {
  auto* watch = static_cast<JackConfigurationWatch*>(self);
  const std::lock_guard<std::mutex> guard(watch->mutex_);
  watch->client_.noteServerGone();
  watch->notify_();
}

int JackConfigurationWatch::onSampleRate(jack_nframes_t rate, void* self) {
  auto* watch = static_cast<JackConfigurationWatch*>(self);
  const std::lock_guard<std::mutex> guard(watch->mutex_);
  if (rate != watch->sampleRate_) watch->notify_();
  return 0;
}

int JackConfigurationWatch::onBufferSize(jack_nframes_t frames, void* self) {
  auto* watch = static_cast<JackConfigurationWatch*>(self);
  const std::lock_guard<std::mutex> guard(watch->mutex_);
  if (frames != watch->bufferSize_) watch->notify_();
  return 0;
}

}  // namespace quillmark
