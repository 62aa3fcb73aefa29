#pragma once
// MidiTestClient: another program on the test's JACK server, with MIDI input ports that record every event
// they receive (bytes, absolute frame, and the host time of that frame on a line fitted to this client's own
// wake-ups, the way Quillmark maps frames) and MIDI output ports that send queued messages, one per output
// per cycle, so that messages of two outputs interleave. Frames are exact; host times agree with
// Quillmark's only as closely as two clients' wake-ups do, which is why timing tests judge frames first. It
// counts xruns so timing tests can discard stretches that contain one. Threads: the public functions on the
// test thread; the process callback on the client's JACK thread.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/host_time.h"
#include "jack/jack_buffer_access.h"
#include "jack/jack_frame_clock.h"
#include "tests/audio/main_queue.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {

class MidiTestClient {
 public:
  struct Event {
    std::vector<std::uint8_t> bytes;
    std::uint64_t frame = 0;  // absolute frame time of the event
    double host = 0.0;        // host seconds of that frame
    bool isFullFrame() const { return bytes.size() == 10 && bytes[0] == 0xF0; }
    bool isQuarterFrame() const { return bytes.size() == 2 && bytes[0] == 0xF1; }
  };

  // `playbackLatency` frames are declared on the input ports, as a synthesizer that sounds that long
  // after an event arrives would; `captureLatency` frames on the output ports, as a keyboard whose events
  // reach JACK that long after they were played would.
  MidiTestClient(const std::string& name, int inputs, int outputs, jack_nframes_t playbackLatency = 0,
                 jack_nframes_t captureLatency = 0)
      : playbackLatency_(playbackLatency), captureLatency_(captureLatency) {
    jack_ = openTestClient(name);
    for (int i = 0; i < inputs; ++i) {
      const std::string port = "in" + std::to_string(i + 1);
      inputs_.push_back(jack_port_register(jack_, port.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0));
    }
    for (int i = 0; i < outputs; ++i) {
      const std::string port = "out" + std::to_string(i + 1);
      outputs_.push_back(
          jack_port_register(jack_, port.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0));
    }
    received_.resize(inputs);
    pending_.resize(outputs);
    sent_.resize(outputs);
    jack_set_process_callback(jack_, &MidiTestClient::process, this);
    jack_set_xrun_callback(jack_, &MidiTestClient::xrun, this);
    jack_set_latency_callback(jack_, &MidiTestClient::latency, this);
    jack_activate(jack_);
  }
  ~MidiTestClient() { jack_client_close(jack_); }

  jack_client_t* jack() const { return jack_; }
  jack_port_t* output(int i) const { return outputs_[i]; }
  std::string inputName(int i) const { return jack_port_name(inputs_[i]); }
  std::string outputName(int i) const { return jack_port_name(outputs_[i]); }
  int xruns() const { return xruns_.load(); }

  void send(int output, std::vector<std::uint8_t> bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    pending_[output].push_back(std::move(bytes));
  }
  bool allSent() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& queue : pending_) {
      if (!queue.empty()) return false;
    }
    return true;
  }
  // The queued messages as written, per output, in order.
  std::vector<Event> sent(int output) {
    std::lock_guard<std::mutex> guard(mutex_);
    return sent_[output];
  }
  std::vector<Event> received(int input) {
    std::lock_guard<std::mutex> guard(mutex_);
    return received_[input];
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& list : received_) list.clear();
  }

 private:
  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<MidiTestClient*>(arg);
    const double wake = HostTime::now();
    const jack_nframes_t start = jack_last_frame_time(self->jack_);
    self->line_.observe(start, wake, static_cast<double>(jack_get_sample_rate(self->jack_)));
    const double startHost = self->line_.hostSeconds(start, 0.0);
    const double secondsPerFrame = self->line_.secondsPerFrame();
    std::lock_guard<std::mutex> guard(self->mutex_);
    for (std::size_t i = 0; i < self->inputs_.size(); ++i) {
      const JackBufferAccess input(self->inputs_[i], frames);
      void* buffer = input.data();
      for (std::uint32_t e = 0; e < jack_midi_get_event_count(buffer); ++e) {
        jack_midi_event_t event;
        jack_midi_event_get(&event, buffer, e);
        self->received_[i].push_back(Event{std::vector<std::uint8_t>(event.buffer, event.buffer + event.size),
                                           std::uint64_t{start} + event.time,
                                           startHost + event.time * secondsPerFrame});
      }
    }
    for (std::size_t i = 0; i < self->outputs_.size(); ++i) {
      const JackBufferAccess output(self->outputs_[i], frames);
      void* buffer = output.data();
      jack_midi_clear_buffer(buffer);
      if (self->pending_[i].empty()) continue;
      auto& bytes = self->pending_[i].front();
      jack_midi_event_write(buffer, kSendOffset, bytes.data(), bytes.size());
      self->sent_[i].push_back(Event{std::move(bytes), std::uint64_t{start} + kSendOffset,
                                     startHost + kSendOffset * secondsPerFrame});
      self->pending_[i].pop_front();
    }
    return 0;
  }
  static void latency(jack_latency_callback_mode_t mode, void* arg) {
    auto* self = static_cast<MidiTestClient*>(arg);
    if (mode == JackCaptureLatency) {
      jack_latency_range_t range{self->captureLatency_, self->captureLatency_};
      for (jack_port_t* port : self->outputs_) jack_port_set_latency_range(port, JackCaptureLatency, &range);
      return;
    }
    jack_latency_range_t range{self->playbackLatency_, self->playbackLatency_};
    for (jack_port_t* port : self->inputs_) jack_port_set_latency_range(port, JackPlaybackLatency, &range);
  }
  static int xrun(void* arg) {
    static_cast<MidiTestClient*>(arg)->xruns_++;
    return 0;
  }

  static constexpr jack_nframes_t kSendOffset = 100;
  const jack_nframes_t playbackLatency_;
  const jack_nframes_t captureLatency_;
  jack_client_t* jack_ = nullptr;
  std::vector<jack_port_t*> inputs_;
  std::vector<jack_port_t*> outputs_;
  std::mutex mutex_;
  std::vector<std::vector<Event>> received_;                    // guarded by mutex_
  std::vector<std::deque<std::vector<std::uint8_t>>> pending_;  // guarded by mutex_
  std::vector<std::vector<Event>> sent_;                        // guarded by mutex_
  JackFrameClock line_;                                         // process thread
  std::atomic<int> xruns_{0};
};

}  // namespace quillmark::test
