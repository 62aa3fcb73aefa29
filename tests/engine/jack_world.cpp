#include "tests/engine/jack_world.h"

#include <jack/midiport.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "audio/jack_buffer_access.h"
#include "midi/mtc.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {

TestClient::TestClient(const std::string& name, Process process)
    : client_(openTestClient(name)), process_(std::move(process)) {
  if (client_ == nullptr) throw std::runtime_error("cannot open the test client " + name);
  jack_set_process_callback(client_, &TestClient::processTrampoline, this);
  jack_set_xrun_callback(
      client_,
      [](void* arg) {
        auto* self = static_cast<TestClient*>(arg);
        std::lock_guard<std::mutex> guard(self->mutex_);
        ++self->xruns_;
        return 0;
      },
      this);
}

TestClient::~TestClient() {
  jack_deactivate(client_);
  jack_client_close(client_);
}

jack_port_t* TestClient::addPort(const char* name, const char* type, unsigned long flags) {
  jack_port_t* port = jack_port_register(client_, name, type, flags, 0);
  if (port == nullptr) throw std::runtime_error("cannot register a test port");
  return port;
}

void TestClient::activate() {
  if (jack_activate(client_) != 0) throw std::runtime_error("cannot activate a test client");
}

int TestClient::xruns() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return xruns_;
}

int TestClient::processTrampoline(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<TestClient*>(arg);
  jack_nframes_t firstFrame = 0;
  jack_time_t cycleMicroseconds = 0, nextMicroseconds = 0;
  float periodMicroseconds = 0;
  jack_get_cycle_times(self->client_, &firstFrame, &cycleMicroseconds, &nextMicroseconds,
                       &periodMicroseconds);
  self->hostClock_.measure();
  self->process_(frames, firstFrame, self->hostClock_.hostSeconds(cycleMicroseconds));
  return 0;
}

bool connectPorts(jack_client_t* client, const std::string& from, const std::string& to) {
  const int result = jack_connect(client, from.c_str(), to.c_str());
  return result == 0 || result == EEXIST;
}

bool disconnectPorts(jack_client_t* client, const std::string& from, const std::string& to) {
  return jack_disconnect(client, from.c_str(), to.c_str()) == 0;
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
        float* out = output.samples();
        const double step = framesPerSecond_ / client_.sampleRate();
        {
          std::lock_guard<std::mutex> guard(mutex_);
          mark_ = Mark{firstHost, next_};
          marked_ = true;
        }
        encoder_.render(out, frames, next_, step);
        next_ += step * frames;
      }) {
  encoder_.setRate(rate);
  out_ = client_.addPort("out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
  port_ = jack_port_name(out_);
  client_.activate();
}

double LTCPlayer::positionAt(double host) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return mark_.position + (host - mark_.host) * framesPerSecond_;
}

MTCSender::MTCSender(FrameRate rate, std::int64_t startFrame)
    : rate_(rate),
      startIndex_(startFrame * 4),
      client_("mtc-sender", [this](jack_nframes_t frames, jack_nframes_t firstFrame, double firstHost) {
        const JackBufferAccess output(out_, frames);
        void* buffer = output.data();
        jack_midi_clear_buffer(buffer);
        std::uint64_t startFrame = 0;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          if (!started_) {
            started_ = true;
            startFrame_ = firstFrame;
            startHost_ = firstHost;
          }
          startFrame = startFrame_;
        }
        // JACK frame counters wrap at 32 bits; a test never runs that long.
        const double cycleStart = static_cast<double>(firstFrame - static_cast<jack_nframes_t>(startFrame));
        for (;;) {
          const double due = static_cast<double>(sent_) * samplesPerQuarter_;
          const double offset = std::ceil(due - cycleStart);
          if (offset >= frames) break;
          const auto message = MTC::quarterFrame(startIndex_ + static_cast<std::int64_t>(sent_), rate_);
          jack_midi_event_write(buffer, static_cast<jack_nframes_t>(std::max(0.0, offset)), message.data(),
                                message.size());
          ++sent_;
        }
      }) {
  samplesPerQuarter_ = client_.sampleRate() / (4.0 * realFramesPerSecond(rate));
  out_ = client_.addPort("out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  port_ = jack_port_name(out_);
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
        const double rate = client_.sampleRate();
        std::lock_guard<std::mutex> guard(mutex_);
        for (std::uint32_t i = 0; i < count; ++i) {
          jack_midi_event_t event;
          if (jack_midi_event_get(&event, buffer, i) != 0) continue;
          messages_.push_back(Message{std::vector<std::uint8_t>(event.buffer, event.buffer + event.size),
                                      firstHost + event.time / rate});
        }
      }) {
  messages_.reserve(100000);
  in_ = client_.addPort("in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
  port_ = jack_port_name(in_);
  client_.activate();
}

std::vector<MIDIRecorder::Message> MIDIRecorder::messages() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return messages_;
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
        cycles_.push_back(Cycle{samples_.size(), firstHost});
        samples_.insert(samples_.end(), in, in + frames);
      }) {
  samples_.reserve(static_cast<std::size_t>(seconds * client_.sampleRate()));
  cycles_.reserve(static_cast<std::size_t>(seconds * client_.sampleRate() / 32.0));
  in_ = client_.addPort("in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
  port_ = jack_port_name(in_);
  client_.activate();
}

std::vector<AudioRecorder::Frame> AudioRecorder::decode() const {
  std::vector<float> samples;
  std::vector<Cycle> cycles;
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
        std::size_t c = 0;
        while (c + 1 < cycles.size() && static_cast<double>(cycles[c + 1].sample) <= found.start) ++c;
        const double host =
            cycles.empty() ? 0.0
                           : cycles[c].host + (found.start - static_cast<double>(cycles[c].sample)) / rate;
        frames.push_back(Frame{found.frame, host});
      });
  return frames;
}

}  // namespace quillmark::test
