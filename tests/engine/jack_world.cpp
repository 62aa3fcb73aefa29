#include "tests/engine/jack_world.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/host_time.h"
#include "jack/jack_buffer_access.h"
#include "midi/mtc.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {

TestClient::TestClient(const std::string& name, Process process)
    : client_(openTestClient(name)), process_(std::move(process)) {
  if (client_ == nullptr) throw std::runtime_error("cannot open the test client " + name);
  auto onProcess = [](jack_nframes_t frames, void* arg) {
    auto* self = static_cast<TestClient*>(arg);
    const double wake = HostTime::now();
    const jack_nframes_t first = jack_last_frame_time(self->client_);
    self->frameClock_.observe(first, wake, self->sampleRate());
    if (self->process_) self->process_(frames, first, self->frameClock_.hostSeconds(first, 0.0));
    return 0;
  };
  jack_set_process_callback(client_, onProcess, this);
  auto onXrun = [](void* arg) { return static_cast<TestClient*>(arg)->xruns_.fetch_add(1), 0; };
  jack_set_xrun_callback(client_, onXrun, this);
}

jack_port_t* TestClient::addPort(const char* name, const char* type, unsigned long flags) {
  jack_port_t* port = jack_port_register(client_, name, type, flags, 0);
  if (port == nullptr) throw std::runtime_error("cannot register a test port");
  return port;
}

std::string findPort(jack_client_t* client, const char* pattern, const char* type, unsigned long flags) {
  const char** ports = jack_get_ports(client, pattern, type, flags);
  std::string found = (ports && ports[0]) ? ports[0] : "";
  jack_free(ports);
  return found;
}

LTCPlayer::LTCPlayer(FrameRate rate, double start, double framesPerSecond)
    : encoder_(48000.0),
      framesPerSecond_(framesPerSecond),
      next_(start),
      client_("ltc-player", [this](jack_nframes_t frames, jack_nframes_t, double firstHost) {
        const JackBufferAccess output(out_, frames);
        const double step = framesPerSecond_ / client_.sampleRate();
        {
          std::lock_guard<std::mutex> guard(mutex_);
          markHost_ = firstHost;
          markPosition_ = next_;
        }
        encoder_.render(output.samples(), frames, next_, step);
        next_ += step * frames;
      }) {
  encoder_.setRate(rate);
  out_ = client_.addPort("out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
  client_.activate();
}

double LTCPlayer::positionAt(double host) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return markPosition_ + (host - markHost_) * framesPerSecond_;
}

MTCSender::MTCSender(FrameRate rate, std::int64_t startFrame)
    : rate_(rate),
      startIndex_(startFrame * 4),
      client_("mtc-sender", [this](jack_nframes_t frames, jack_nframes_t firstFrame, double firstHost) {
        const JackBufferAccess output(out_, frames);
        void* buffer = output.data();
        jack_midi_clear_buffer(buffer);
        jack_nframes_t startFrame = 0;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          if (!started_) started_ = true, startFrame_ = firstFrame, startHost_ = firstHost;
          startFrame = startFrame_;
        }
        const double cycleStart = static_cast<double>(firstFrame - startFrame);  // unsigned: unwraps
        for (;; ++sent_) {
          const double offset = std::ceil(static_cast<double>(sent_) * samplesPerQuarter_ - cycleStart);
          if (offset >= frames) break;
          const auto message = MTC::quarterFrame(startIndex_ + static_cast<std::int64_t>(sent_), rate_);
          jack_midi_event_write(buffer, static_cast<jack_nframes_t>(std::max(0.0, offset)), message.data(),
                                message.size());
        }
      }) {
  samplesPerQuarter_ = client_.sampleRate() / (4.0 * realFramesPerSecond(rate));
  out_ = client_.addPort("out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  client_.activate();
}

double MTCSender::positionAt(double host) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<double>(startIndex_) / 4.0 + (host - startHost_) * realFramesPerSecond(rate_);
}

MIDIRecorder::MIDIRecorder()
    : client_("mtc-receiver", [this](jack_nframes_t frames, jack_nframes_t, double firstHost) {
        const JackBufferAccess input(in_, frames);
        void* buffer = input.data();
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        std::lock_guard<std::mutex> guard(mutex_);
        for (std::uint32_t i = 0; i < count; ++i) {
          jack_midi_event_t event;
          if (jack_midi_event_get(&event, buffer, i) != 0) continue;
          messages_.push_back(Message{std::vector<std::uint8_t>(event.buffer, event.buffer + event.size),
                                      firstHost + event.time / client_.sampleRate()});
        }
      }) {
  messages_.reserve(100000);
  in_ = client_.addPort("in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
  client_.activate();
}

std::vector<std::pair<MTCDecoder::Event, std::size_t>> MIDIRecorder::events() const {
  const std::vector<Message> all = messages();
  MTCDecoder decoder;
  std::vector<std::pair<MTCDecoder::Event, std::size_t>> events;
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (const MTCDecoder::Event& event : decoder.feed(all[i].bytes, all[i].host))
      events.emplace_back(event, i);
  }
  return events;
}

AudioRecorder::AudioRecorder(double seconds)
    : client_("ltc-recorder", [this](jack_nframes_t frames, jack_nframes_t, double firstHost) {
        const JackBufferAccess input(in_, frames);
        const float* in = input.samples();
        std::lock_guard<std::mutex> guard(mutex_);
        if (samples_.size() + frames > samples_.capacity()) return;
        cycles_.emplace_back(samples_.size(), firstHost);
        samples_.insert(samples_.end(), in, in + frames);
      }) {
  samples_.reserve(static_cast<std::size_t>(seconds * client_.sampleRate()));
  cycles_.reserve(static_cast<std::size_t>(seconds * client_.sampleRate() / 32.0));
  in_ = client_.addPort("in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
  client_.activate();
}

std::vector<AudioRecorder::Frame> AudioRecorder::decode() const {
  std::vector<float> samples;
  std::vector<std::pair<std::size_t, double>> cycles;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    samples = samples_;
    cycles = cycles_;
  }
  const double rate = client_.sampleRate();
  LTCDecoder decoder(rate);
  std::vector<Frame> frames;
  decoder.process(
      samples.data(), static_cast<std::int64_t>(samples.size()), 0, [&](const LTCDecoder::Frame& found) {
        // Host time of a fractional sample position: through the cycle it fell in.
        auto cycle = std::upper_bound(
            cycles.begin(), cycles.end(), found.start,
            [](double start, const auto& c) { return start < static_cast<double>(c.first); });
        if (cycle != cycles.begin()) --cycle;
        frames.push_back(
            Frame{found.frame, cycle->second + (found.start - static_cast<double>(cycle->first)) / rate});
      });
  return frames;
}

}  // namespace quillmark::test
