#include "audio/jack_configuration_watch.h"

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

void JackConfigurationWatch::onShutdown(jack_status_t, const char*, void* self) {
  auto* watch = static_cast<JackConfigurationWatch*>(self);
  watch->client_.noteServerGone();
  watch->notify_();
}

int JackConfigurationWatch::onSampleRate(jack_nframes_t rate, void* self) {
  auto* watch = static_cast<JackConfigurationWatch*>(self);
  if (rate != watch->sampleRate_) watch->notify_();
  return 0;
}

int JackConfigurationWatch::onBufferSize(jack_nframes_t frames, void* self) {
  auto* watch = static_cast<JackConfigurationWatch*>(self);
  if (frames != watch->bufferSize_) watch->notify_();
  return 0;
}

}  // namespace quillmark
