#include "jack/jack_configuration_watch.h"

#include <utility>

namespace quillmark {

JackConfigurationWatch::JackConfigurationWatch(JackClient& owner, std::function<void()> notify)
    : hook_(std::make_shared<Hook>()) {
  jack_client_t* client = owner.get();
  hook_->serverGone = owner.serverGoneFlag();
  hook_->sampleRate = jack_get_sample_rate(client);
  hook_->bufferSize = jack_get_buffer_size(client);
  hook_->notify = std::move(notify);
  owner.keepForCallbacks(hook_);
  jack_on_info_shutdown(client, onShutdown, hook_.get());
  jack_set_sample_rate_callback(client, onSampleRate, hook_.get());
  jack_set_buffer_size_callback(client, onBufferSize, hook_.get());
}

JackConfigurationWatch::~JackConfigurationWatch() {
  // Waits for a handler still running on JACK's notification thread; one that comes later finds the hook
  // detached.
  const std::lock_guard<std::mutex> guard(hook_->mutex);
  hook_->attached = false;
}

void JackConfigurationWatch::onShutdown(jack_status_t, const char*, void* self) {
  auto* hook = static_cast<Hook*>(self);
  const std::lock_guard<std::mutex> guard(hook->mutex);
  hook->serverGone->store(true);
  if (hook->attached) hook->notify();
}

int JackConfigurationWatch::onSampleRate(jack_nframes_t rate, void* self) {
  auto* hook = static_cast<Hook*>(self);
  const std::lock_guard<std::mutex> guard(hook->mutex);
  if (hook->attached && rate != hook->sampleRate) hook->notify();
  return 0;
}

int JackConfigurationWatch::onBufferSize(jack_nframes_t frames, void* self) {
  auto* hook = static_cast<Hook*>(self);
  const std::lock_guard<std::mutex> guard(hook->mutex);
  if (hook->attached && frames != hook->bufferSize) hook->notify();
  return 0;
}

}  // namespace quillmark
