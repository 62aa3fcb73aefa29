#include "tests/support/test_client.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "core/host_time.h"
#include "jack/jack_buffer_access.h"
#include "jack/jack_client.h"
#include "ltc/ltc_decoder.h"
#include "midi/mtc.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

namespace {
constexpr jack_nframes_t kSendOffset = 100;  // where queued MIDI messages go in their cycle

// Opened as Quillmark opens its own: on PipeWire, a test client's cycle is then never skipped while one of
// its notifications runs. A skipped cycle makes a player repeat a period and fall that far behind its own
// count, a fault of the player these tests would take for one of Quillmark's.
jack_client_t* openTestClient(const std::string& name) {
  jack_status_t status{};
  return openJackClient(name, &status);
}
}  // namespace

TestClient::TestClient(const std::string& name, jack_nframes_t capture, jack_nframes_t playback)
    : client_(openTestClient(name)), capture_(capture), playback_(playback) {
  if (client_ == nullptr) throw std::runtime_error("cannot open the test client " + name);
  sampleRate_ = jack_get_sample_rate(client_);
  jack_set_process_callback(
      client_, [](jack_nframes_t n, void* self) { return static_cast<TestClient*>(self)->onProcess(n); },
      this);
  jack_set_xrun_callback(
      client_, [](void* self) { return static_cast<TestClient*>(self)->xruns_.fetch_add(1), 0; }, this);
  jack_on_info_shutdown(
      client_,
      [](jack_status_t, const char*, void* self) { static_cast<TestClient*>(self)->serverGone_ = true; },
      this);
  jack_set_latency_callback(
      client_,
      [](jack_latency_callback_mode_t mode, void* arg) {
        auto& self = *static_cast<TestClient*>(arg);
        const bool capture = mode == JackCaptureLatency;
        jack_latency_range_t range{capture ? self.capture_ : self.playback_,
                                   capture ? self.capture_ : self.playback_};
        for (const Port& p : self.ports_) {
          if ((p.kind == Kind::audioOut || p.kind == Kind::midiOut) == capture)
            jack_port_set_latency_range(p.port, mode, &range);
        }
      },
      this);
}

TestClient::~TestClient() {
  if (!serverGone_) {
    jack_deactivate(client_);
    jack_client_close(client_);
  }
  // Abandoned with its server: a cycle still running as it went must be out before its ports are freed.
  waitFor([&] { return !inCycle_.load(); }, 0.5);
}

int TestClient::add(const std::string& name, Kind kind) {
  const bool audio = kind == Kind::audioOut || kind == Kind::audioIn;
  const bool output = kind == Kind::audioOut || kind == Kind::midiOut;
  jack_port_t* port =
      jack_port_register(client_, name.c_str(), audio ? JACK_DEFAULT_AUDIO_TYPE : JACK_DEFAULT_MIDI_TYPE,
                         output ? JackPortIsOutput : JackPortIsInput, 0);
  if (port == nullptr) throw std::runtime_error("cannot register the test port " + name);
  ports_.emplace_back().kind = kind;
  ports_.back().port = port;
  return static_cast<int>(ports_.size()) - 1;
}

int TestClient::playLTC(const std::string& name, FrameRate rate, double start, double framesPerSecond) {
  const int i = add(name, Kind::audioOut);
  ports_[i].ltc = std::make_unique<LTCEncoder>(sampleRate_);
  ports_[i].ltc->setRate(rate);
  ports_[i].framesPerSecond = framesPerSecond;
  ports_[i].next = start;
  return i;
}

int TestClient::loopBack(const std::string& name, int input) {
  const int i = add(name, Kind::audioOut);
  ports_[i].loopFrom = input;
  ports_[i].delay.assign(loopDelay(), 0.0f);
  return i;
}

int TestClient::addAudioIn(const std::string& name, double seconds) {
  const int i = add(name, Kind::audioIn);
  ports_[i].limit = static_cast<std::size_t>(seconds * sampleRate_);
  ports_[i].samples.reserve(ports_[i].limit);
  ports_[i].cycles.reserve(ports_[i].limit / 32);
  return i;
}

int TestClient::sendMTC(const std::string& name, FrameRate rate, std::int64_t startFrame) {
  const int i = add(name, Kind::midiOut);
  ports_[i].mtcRate = rate;
  ports_[i].framesPerSecond = realFramesPerSecond(rate);
  ports_[i].markPosition = static_cast<double>(startFrame);
  return i;
}

int TestClient::addMidiIn(const std::string& name) {
  const int i = add(name, Kind::midiIn);
  ports_[i].events.reserve(100000);
  return i;
}

void TestClient::activate() {
  if (jack_activate(client_) != 0) throw std::runtime_error("cannot activate the test client " + name());
}

int TestClient::onProcess(jack_nframes_t frames) {
  inCycle_.store(true);
  const double wake = HostTime::now();
  const jack_nframes_t first = jack_last_frame_time(client_);
  frameClock_.observe(first, wake, sampleRate_);
  const double firstHost = frameClock_.hostSeconds(first, 0.0);
  const std::lock_guard<std::mutex> guard(mutex_);
  for (Port& p : ports_) {  // inputs first: a loop reads what its input heard in this cycle
    if (p.kind == Kind::audioIn && p.samples.size() < p.limit) {
      const JackBufferAccess buffer(p.port, frames);
      p.cycles.emplace_back(p.samples.size(), firstHost);
      const float* in = buffer.samples();
      p.samples.insert(p.samples.end(), in, in + std::min<std::size_t>(frames, p.limit - p.samples.size()));
    } else if (p.kind == Kind::midiIn) {
      const JackBufferAccess buffer(p.port, frames);
      for (std::uint32_t e = 0; e < jack_midi_get_event_count(buffer.data()); ++e) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer.data(), e) != 0) continue;
        p.events.push_back(MidiEvent{{event.buffer, event.buffer + event.size},
                                     std::uint64_t{first} + event.time,
                                     firstHost + event.time * frameClock_.secondsPerFrame()});
      }
    }
  }
  for (Port& p : ports_) produce(p, frames, first, firstHost);
  delayIndex_ = (delayIndex_ + frames) % loopDelay();
  inCycle_.store(false);  // publishes the cycle to the destructor
  return 0;
}

void TestClient::produce(Port& p, jack_nframes_t frames, jack_nframes_t first, double firstHost) {
  if (p.kind == Kind::audioOut) {
    const JackBufferAccess output(p.port, frames);
    float* out = output.samples();
    std::memset(out, 0, frames * sizeof(float));
    if (p.ltc) {
      const double step = p.framesPerSecond / sampleRate_;
      p.markHost = firstHost;
      p.markPosition = p.next;
      p.ltc->render(out, frames, p.next, step);
      p.next += step * frames;
    } else if (p.loopFrom >= 0) {
      const JackBufferAccess input(ports_[p.loopFrom].port, frames);
      const float* in = input.samples();
      for (jack_nframes_t i = 0; i < frames; ++i) {
        float& slot = p.delay[(delayIndex_ + i) % loopDelay()];
        out[i] = slot;
        slot = in[i];
      }
    }
  } else if (p.kind == Kind::midiOut) {
    const JackBufferAccess output(p.port, frames);
    void* buffer = output.data();
    jack_midi_clear_buffer(buffer);
    if (p.mtcRate) {
      if (!p.started) p.started = true, p.mtcFirstFrame = first, p.markHost = firstHost;
      const double samplesPerQuarter = sampleRate_ / (4.0 * p.framesPerSecond);
      const double cycleStart = static_cast<double>(first - p.mtcFirstFrame);  // unsigned: unwraps
      for (;; p.next += 1) {
        const double offset = std::ceil(p.next * samplesPerQuarter - cycleStart);
        if (offset >= frames) break;
        const auto message =
            MTC::quarterFrame(static_cast<std::int64_t>(p.markPosition * 4 + p.next), *p.mtcRate);
        jack_midi_event_write(buffer, static_cast<jack_nframes_t>(std::max(0.0, offset)), message.data(),
                              message.size());
      }
    } else if (!p.pending.empty()) {
      jack_midi_event_write(buffer, kSendOffset, p.pending.front().data(), p.pending.front().size());
      p.events.push_back(MidiEvent{std::move(p.pending.front()), std::uint64_t{first} + kSendOffset,
                                   firstHost + kSendOffset * frameClock_.secondsPerFrame()});
      p.pending.pop_front();
    }
  }
}

double TestClient::positionAt(double host, int i) const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return ports_[i].markPosition + (host - ports_[i].markHost) * ports_[i].framesPerSecond;
}

void TestClient::send(int i, std::vector<std::uint8_t> bytes) {
  const std::lock_guard<std::mutex> guard(mutex_);
  ports_[i].pending.push_back(std::move(bytes));
}

bool TestClient::allSent() const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return std::all_of(ports_.begin(), ports_.end(), [](const Port& p) { return p.pending.empty(); });
}

std::vector<MidiEvent> TestClient::sent(int i) const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return ports_[i].events;
}

std::vector<std::pair<MTCDecoder::Event, std::size_t>> TestClient::mtcEvents(int i) const {
  const std::vector<MidiEvent> all = received(i);
  MTCDecoder decoder;
  std::vector<std::pair<MTCDecoder::Event, std::size_t>> events;
  for (std::size_t k = 0; k < all.size(); ++k) {
    for (const MTCDecoder::Event& event : decoder.feed(all[k].bytes, all[k].host))
      events.emplace_back(event, k);
  }
  return events;
}

bool TestClient::record(jack_nframes_t frames) {
  {
    const std::lock_guard<std::mutex> guard(mutex_);
    for (Port& p : ports_) {
      p.samples.clear();
      p.cycles.clear();
      if (p.kind == Kind::audioIn) p.limit = std::min<std::size_t>(frames, p.samples.capacity());
    }
  }
  return waitFor(
      [&] {
        const std::lock_guard<std::mutex> guard(mutex_);
        return std::all_of(ports_.begin(), ports_.end(),
                           [&](const Port& p) { return p.samples.size() >= p.limit; });
      },
      10.0);
}

std::vector<float> TestClient::recorded(int i) const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return ports_[i].samples;
}

void TestClient::clear() {
  const std::lock_guard<std::mutex> guard(mutex_);
  for (Port& p : ports_) {
    if (p.kind == Kind::midiIn) p.events.clear();
  }
}

std::vector<HeardFrame> TestClient::decodeLTC(int i) const {
  // Copied, so that decoding holds no cycle of the client back.
  std::unique_lock<std::mutex> guard(mutex_);
  const std::vector<float> samples = ports_[i].samples;
  const std::vector<std::pair<std::size_t, double>> cycles = ports_[i].cycles;
  guard.unlock();
  LTCDecoder decoder(sampleRate_);
  std::vector<HeardFrame> frames;
  decoder.process(
      samples.data(), static_cast<std::int64_t>(samples.size()), 0, [&](const LTCDecoder::Frame& found) {
        // Host time of a fractional sample position: through the cycle it fell in.
        auto cycle = std::upper_bound(
            cycles.begin(), cycles.end(), found.start,
            [](double start, const auto& c) { return start < static_cast<double>(c.first); });
        if (cycle != cycles.begin()) --cycle;
        frames.push_back(HeardFrame{
            found.frame, cycle->second + (found.start - static_cast<double>(cycle->first)) / sampleRate_});
      });
  return frames;
}

JackServer& sharedServer() {
  static const std::unique_ptr<JackServer> server = JackServer::start();
  return *server;
}

namespace {
// A client of its own with the one port `addPort` registers, activated.
template <class AddPort>
std::unique_ptr<TestClient> oneClient(const std::string& name, AddPort addPort) {
  auto client = std::make_unique<TestClient>(name);
  addPort(*client);
  client->activate();
  return client;
}
}  // namespace

std::unique_ptr<TestClient> ltcPlayer(FrameRate rate, double start, double framesPerSecond) {
  return oneClient("ltc-player", [&](TestClient& c) { c.playLTC("out", rate, start, framesPerSecond); });
}

std::unique_ptr<TestClient> mtcDesk(FrameRate rate, std::int64_t startFrame) {
  return oneClient("mtc-sender", [&](TestClient& c) { c.sendMTC("out", rate, startFrame); });
}

std::unique_ptr<TestClient> midiRecorder() {
  return oneClient("mtc-receiver", [](TestClient& c) { c.addMidiIn("in"); });
}

std::unique_ptr<TestClient> audioRecorder(double seconds, const std::string& name) {
  return oneClient(name, [&](TestClient& c) { c.addAudioIn("in", seconds); });
}

bool connectPorts(jack_client_t* client, const std::string& from, const std::string& to) {
  const int result = jack_connect(client, from.c_str(), to.c_str());
  return result == 0 || result == EEXIST;
}

std::string findPort(jack_client_t* client, const std::string& pattern, const char* type,
                     unsigned long flags) {
  const char** ports = jack_get_ports(client, pattern.c_str(), type, flags);
  std::string found = (ports && ports[0]) ? ports[0] : "";
  jack_free(ports);
  return found;
}

std::string clientIds(jack_client_t* client, const std::vector<std::string>& names) {
  std::string ids;
  for (const std::string& name : names) {
    char* uuid = jack_get_uuid_for_client_name(client, name.c_str());
    ids += std::string(uuid ? uuid : "none") + " ";
    jack_free(uuid);
  }
  return ids;
}

std::optional<AudioDevice> findDevice(JackDevices& devices, AudioDevice::Scope scope,
                                      const std::string& uid) {
  std::optional<AudioDevice> found;
  waitFor(
      [&] {
        for (const auto& d : devices.list(scope))
          if (d.uid == uid) return found = d, true;
        return false;
      },
      2.0);
  return found;
}

}  // namespace quillmark::test
