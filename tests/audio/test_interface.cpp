#include "tests/audio/test_interface.h"

#include <algorithm>
#include <cstring>

#include "audio/jack_buffer_access.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

std::unique_ptr<TestInterface> TestInterface::open(TestInterfaceOptions options) {
  std::unique_ptr<TestInterface> ti(new TestInterface());
  ti->options_ = std::move(options);
  jack_status_t status{};
  ti->client_ = jack_client_open(ti->options_.name.c_str(), JackNoStartServer, &status);
  if (!ti->client_) return nullptr;
  ti->name_ = jack_get_client_name(ti->client_);
  const auto& o = ti->options_;
  for (int i = 0; i < o.capturePorts; ++i) {
    const std::string name = "capture_" + std::to_string(i + 1);
    ti->capture_.push_back(jack_port_register(ti->client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                              JackPortIsOutput | JackPortIsTerminal, 0));
  }
  for (int i = 0; i < o.playbackPorts; ++i) {
    const std::string name = "playback_" + std::to_string(i + 1);
    ti->playback_.push_back(jack_port_register(ti->client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                               JackPortIsInput | JackPortIsTerminal, 0));
  }
  ti->encoders_.resize(o.capturePorts);
  const double sampleRate = jack_get_sample_rate(ti->client_);
  for (const auto& source : o.ltc) {
    auto encoder = std::make_unique<LTCEncoder>(sampleRate);
    encoder->setRate(source.rate);
    ti->encoders_[source.port] = std::move(encoder);
  }
  ti->delayLines_.assign(o.playbackPorts, std::vector<float>(o.playbackLatency + o.captureLatency, 0.0f));
  ti->recordings_.assign(o.playbackPorts, {});
  jack_set_process_callback(ti->client_, process, ti.get());
  jack_set_latency_callback(ti->client_, latency, ti.get());
  jack_set_xrun_callback(ti->client_, xrun, ti.get());
  jack_on_info_shutdown(ti->client_, shutdown, ti.get());
  if (jack_activate(ti->client_) != 0) return nullptr;
  return ti;
}

TestInterface::~TestInterface() {
  if (!client_) return;
  if (!serverGone_.load()) {
    jack_client_close(client_);
    return;
  }
  // Abandoned like Quillmark's own clients: wait for a cycle still running as the server went, so the
  // encoders and recordings are not freed under it (see JackClient).
  waitFor([&] { return !inCycle_.load(); }, 0.5);
}

bool TestInterface::record(jack_nframes_t frames, double timeoutSeconds) {
  for (auto& r : recordings_) r.assign(frames, 0.0f);
  recorded_ = 0;
  recording_.store(true, std::memory_order_release);
  return waitFor([&] { return !recording_.load(std::memory_order_acquire); }, timeoutSeconds);
}

int TestInterface::process(jack_nframes_t frames, void* self) {
  auto& ti = *static_cast<TestInterface*>(self);
  ti.inCycle_.store(true);
  const int result = ti.cycle(frames);
  ti.inCycle_.store(false);  // publishes the cycle to the destructor
  return result;
}

int TestInterface::cycle(jack_nframes_t frames) {
  TestInterface& ti = *this;
  const auto& o = ti.options_;
  // Held to the end of the cycle: the outputs below copy from them.
  JackBufferAccess inputs[8];
  const float* in[8] = {};
  for (int p = 0; p < o.playbackPorts && p < 8; ++p) {
    inputs[p].reset(ti.playback_[p], frames);
    in[p] = inputs[p].samples();
  }
  if (ti.recording_.load(std::memory_order_acquire)) {
    const std::size_t n = std::min<std::size_t>(frames, ti.recordings_[0].size() - ti.recorded_);
    for (int p = 0; p < o.playbackPorts; ++p)
      std::memcpy(ti.recordings_[p].data() + ti.recorded_, in[p], n * 4);
    ti.recorded_ += n;
    if (ti.recorded_ == ti.recordings_[0].size()) ti.recording_.store(false, std::memory_order_release);
  }
  const double sampleRate = jack_get_sample_rate(ti.client_);
  for (int c = 0; c < o.capturePorts; ++c) {
    const JackBufferAccess output(ti.capture_[c], frames);
    float* out = output.samples();
    if (auto* encoder = ti.encoders_[c].get()) {
      for (const auto& source : o.ltc) {
        if (source.port != c) continue;
        const double step = realFramesPerSecond(source.rate) / sampleRate;
        encoder->render(out, frames, source.startFrame + static_cast<double>(ti.samplesPlayed_) * step, step);
      }
    } else if (o.loopback && c < o.playbackPorts) {
      auto& line = ti.delayLines_[c];
      if (line.empty()) {
        std::memcpy(out, in[c], frames * 4);
      } else {
        std::size_t index = ti.delayIndex_;
        for (jack_nframes_t i = 0; i < frames; ++i) {
          out[i] = line[index];
          line[index] = in[c][i];
          if (++index == line.size()) index = 0;
        }
      }
    } else {
      std::memset(out, 0, frames * 4);
    }
  }
  if (o.loopback && !ti.delayLines_.empty() && !ti.delayLines_[0].empty()) {
    ti.delayIndex_ = (ti.delayIndex_ + frames) % ti.delayLines_[0].size();
  }
  ti.samplesPlayed_ += frames;
  return 0;
}

void TestInterface::latency(jack_latency_callback_mode_t mode, void* self) {
  auto& ti = *static_cast<TestInterface*>(self);
  if (mode == JackCaptureLatency) {
    jack_latency_range_t range{ti.options_.captureLatency, ti.options_.captureLatency};
    for (auto* port : ti.capture_) jack_port_set_latency_range(port, JackCaptureLatency, &range);
  } else {
    jack_latency_range_t range{ti.options_.playbackLatency, ti.options_.playbackLatency};
    for (auto* port : ti.playback_) jack_port_set_latency_range(port, JackPlaybackLatency, &range);
  }
}

int TestInterface::xrun(void* self) {
  static_cast<TestInterface*>(self)->xruns_.fetch_add(1);
  return 0;
}

}  // namespace quillmark::test

namespace quillmark::test {

void TestInterface::shutdown(jack_status_t, const char*, void* self) {
  static_cast<TestInterface*>(self)->serverGone_.store(true);
}

}  // namespace quillmark::test
