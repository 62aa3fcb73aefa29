#pragma once
// Clients the end-to-end tests create to stand for the outside world on the test JACK server: an LTC
// player, an MTC sender, a MIDI recorder and an audio recorder. Each stamps what it plays or hears with
// host time through its own frame-to-time line (JackFrameClock), as any program on the machine would.
// Threads: construct, read and destroy on the test thread; the process callbacks run on JACK's thread and
// hand their records over under a plain mutex (these are test clients, not Quillmark's real-time code).

#include <jack/jack.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/frame_rate.h"
#include "jack/jack_frame_clock.h"
#include "ltc/ltc_decoder.h"
#include "ltc/ltc_encoder.h"
#include "midi/mtc_decoder.h"

namespace quillmark::test {

// One JACK client; `process` gets the cycle's frame count, the JACK frame of its first sample and that
// sample's host time. Deactivated and closed before anything it captured goes away.
class TestClient {
 public:
  using Process = std::function<void(jack_nframes_t frames, jack_nframes_t firstFrame, double firstHost)>;
  TestClient(const std::string& name, Process process);
  ~TestClient() { jack_deactivate(client_), jack_client_close(client_); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  jack_port_t* addPort(const char* name, const char* type, unsigned long flags);
  void activate() {
    if (jack_activate(client_) != 0) throw std::runtime_error("cannot activate a test client");
  }
  jack_client_t* get() const { return client_; }
  std::string name() const { return jack_get_client_name(client_); }
  double sampleRate() const { return static_cast<double>(jack_get_sample_rate(client_)); }
  // Xruns since activation: JACK tells every client of every xrun in the graph.
  int xruns() const { return xruns_.load(); }

 private:
  jack_client_t* client_;
  Process process_;
  JackFrameClock frameClock_;  // process thread
  std::atomic<int> xruns_{0};
};

// Connects two ports by full name; true on success (also when already connected).
inline bool connectPorts(jack_client_t* client, const std::string& from, const std::string& to) {
  const int result = jack_connect(client, from.c_str(), to.c_str());
  return result == 0 || result == EEXIST;
}
inline bool disconnectPorts(jack_client_t* client, const std::string& from, const std::string& to) {
  return jack_disconnect(client, from.c_str(), to.c_str()) == 0;
}
// The full name of the first port whose name matches the regular expression `pattern`; "" when none.
std::string findPort(jack_client_t* client, const char* pattern, const char* type, unsigned long flags);

// Plays LTC labelled at `rate` from frame `start`, advancing `framesPerSecond` frames per second.
class LTCPlayer {
 public:
  LTCPlayer(FrameRate rate, double start, double framesPerSecond);
  std::string port() const { return jack_port_name(out_); }
  std::string clientName() const { return client_.name(); }
  // The position played at host time `host`, by the line through the latest cycle.
  double positionAt(double host) const;

 private:
  LTCEncoder encoder_;
  double framesPerSecond_;
  double next_;  // process thread: position of the next sample
  mutable std::mutex mutex_;
  double markHost_ = 0, markPosition_ = 0;  // guarded by mutex_: the latest cycle's start
  jack_port_t* out_ = nullptr;
  TestClient client_;  // last: closed before the members its callback uses go
};

// Sends MTC quarter frames at `rate` from frame `startFrame`, each in the sample where it is due.
class MTCSender {
 public:
  MTCSender(FrameRate rate, std::int64_t startFrame);
  std::string port() const { return jack_port_name(out_); }
  // The frame position sent at host time `host`.
  double positionAt(double host) const;

 private:
  FrameRate rate_;
  std::int64_t startIndex_;  // quarter frame
  double samplesPerQuarter_ = 0;
  mutable std::mutex mutex_;
  bool started_ = false;           // guarded by mutex_
  jack_nframes_t startFrame_ = 0;  // guarded by mutex_: JACK frame of startIndex_
  double startHost_ = 0;           // guarded by mutex_
  std::uint64_t sent_ = 0;         // process thread: quarter frames sent
  jack_port_t* out_ = nullptr;
  TestClient client_;  // last: closed before the members its callback uses go
};

// Receives MIDI and keeps every message with its host time.
class MIDIRecorder {
 public:
  struct Message {
    std::vector<std::uint8_t> bytes;
    double host = 0;
  };
  MIDIRecorder();
  std::string port() const { return jack_port_name(in_); }
  std::vector<Message> messages() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
  }
  // Decoded events in order, with the index of the message that completed each.
  std::vector<std::pair<MTCDecoder::Event, std::size_t>> events() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Message> messages_;  // guarded by mutex_
  jack_port_t* in_ = nullptr;
  TestClient client_;  // last: closed before the members its callback uses go
};

// Records one audio channel for at most `seconds`, with the host time of every cycle, and decodes it as
// LTC afterwards.
class AudioRecorder {
 public:
  struct Frame {
    LTCFrame frame;
    double host = 0;  // host time of the frame's first bit
  };
  explicit AudioRecorder(double seconds);
  std::string port() const { return jack_port_name(in_); }
  std::string clientName() const { return client_.name(); }
  std::vector<Frame> decode() const;

 private:
  mutable std::mutex mutex_;
  std::vector<float> samples_;                          // guarded by mutex_; capacity fixed at construction
  std::vector<std::pair<std::size_t, double>> cycles_;  // guarded by mutex_: first sample, its host time
  jack_port_t* in_ = nullptr;
  TestClient client_;  // last: closed before the members its callback uses go
};

}  // namespace quillmark::test
