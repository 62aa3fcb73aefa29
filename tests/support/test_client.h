#pragma once
// TestClient: another program on the test's JACK server, made of the ports a test needs. Audio outputs
// are what an input device offers (silent, playing LTC, or looping an audio input back through the
// client's declared latencies, like a cable from an interface's output to its input); audio inputs are an
// output device's channels and record what they hear; MIDI outputs send queued messages or run MTC; MIDI
// inputs record every event. Everything heard or played is stamped with host time through the client's
// own frame-to-time line (JackFrameClock), as any program on the machine would stamp it: frames are exact,
// host times agree with Quillmark's only as closely as two clients' wake-ups do. Every client counts the
// server's xruns, so that timing tests can judge only stretches without one.
// Threads: add ports, activate, read and destroy on the test thread; the process callback runs on JACK's
// thread and hands its records over under a plain mutex (a test client, not Quillmark's real-time code).

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_device.h"
#include "audio/jack_devices.h"
#include "core/frame_rate.h"
#include "jack/jack_frame_clock.h"
#include "ltc/ltc_encoder.h"
#include "ltc/ltc_frame.h"
#include "midi/mtc_decoder.h"

namespace quillmark::test {

class JackServer;

struct MidiEvent {
  std::vector<std::uint8_t> bytes;
  std::uint64_t frame = 0;  // JACK frame time of the event
  double host = 0.0;        // host seconds of that frame
  bool isFullFrame() const { return bytes.size() == 10 && bytes[0] == 0xF0; }
  bool isQuarterFrame() const { return bytes.size() == 2 && bytes[0] == 0xF1; }
};

struct HeardFrame {
  LTCFrame frame;
  double host = 0;  // host time of the frame's first bit
};

class TestClient {
 public:
  // Opens `name` on the test server; throws std::runtime_error when it cannot. `capture` frames of latency
  // are declared on the output ports (a keyboard whose events reach JACK that late), `playback` frames on
  // the input ports (a device heard that long after its buffers are written).
  explicit TestClient(const std::string& name, jack_nframes_t capture = 0, jack_nframes_t playback = 0);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // Ports, added before activate(); each returns the port's index in this client.
  int addAudioOut(const std::string& name) { return add(name, Kind::audioOut); }
  // Plays LTC labelled at `rate` from position `start`, advancing `framesPerSecond` frames a second.
  int playLTC(const std::string& name, FrameRate rate, double start, double framesPerSecond);
  // Carries audio input `input`, delayed by the capture plus the playback latency.
  int loopBack(const std::string& name, int input);
  // Records from activation, at most `seconds`.
  int addAudioIn(const std::string& name, double seconds = 1.0);
  int addMidiOut(const std::string& name) { return add(name, Kind::midiOut); }
  // Sends MTC quarter frames at `rate` from frame `startFrame`, each in the sample where it is due.
  int sendMTC(const std::string& name, FrameRate rate, std::int64_t startFrame);
  int addMidiIn(const std::string& name);
  void activate();

  jack_client_t* get() const { return client_; }
  std::string name() const { return jack_get_client_name(client_); }
  std::string port(int i = 0) const { return jack_port_name(ports_[i].port); }
  jack_port_t* jackPort(int i = 0) const { return ports_[i].port; }
  bool connected(int i = 0) const { return jack_port_connected(ports_[i].port) > 0; }
  // Xruns anywhere on the server since activation.
  int xruns() const { return xruns_.load(); }

  // What an LTC or MTC port played at host time `host`, in frames.
  double positionAt(double host, int i = 0) const;

  // MIDI output: queues `bytes`, written at frame offset 100 of a coming cycle, one per port per cycle (so
  // that the messages of two ports interleave).
  void send(int i, std::vector<std::uint8_t> bytes);
  bool allSent() const;
  std::vector<MidiEvent> sent(int i = 0) const;  // as written, in order
  // MIDI input: every event heard, and what an MTC decoder makes of them, with the index of the event
  // that completed each.
  std::vector<MidiEvent> received(int i = 0) const { return sent(i); }
  std::vector<std::pair<MTCDecoder::Event, std::size_t>> mtcEvents(int i = 0) const;

  // Audio inputs: restarts every recording and waits (10 s at most) until each holds `frames` samples.
  bool record(jack_nframes_t frames);
  std::vector<float> recorded(int i = 0) const;
  std::vector<HeardFrame> decodeLTC(int i = 0) const;
  // Forgets what the inputs heard so far.
  void clear();

  // A server found dead: the client is left to libjack instead of closed (closing it then is unsafe), once
  // no cycle of ours runs any more. jackd reports its shutdown by itself; PipeWire's libjack does not.
  void abandon() { serverGone_ = true; }

 private:
  enum class Kind { audioOut, audioIn, midiOut, midiIn };
  struct Port {
    Kind kind = Kind::audioOut;
    jack_port_t* port = nullptr;
    // Audio and MIDI generators: their position at markHost (guarded by mutex_).
    std::unique_ptr<LTCEncoder> ltc;
    std::optional<FrameRate> mtcRate;
    double framesPerSecond = 0, next = 0;  // process thread: position of the next sample or quarter frame
    bool started = false;
    double markHost = 0, markPosition = 0;
    jack_nframes_t mtcFirstFrame = 0;
    int loopFrom = -1;
    std::vector<float> delay;
    // Records (guarded by mutex_).
    std::vector<float> samples;                          // capacity fixed when added
    std::size_t limit = 0;                               // samples wanted
    std::vector<std::pair<std::size_t, double>> cycles;  // first sample of a cycle, its host time
    std::deque<std::vector<std::uint8_t>> pending;
    std::vector<MidiEvent> events;  // sent or received
  };
  int add(const std::string& name, Kind kind);
  int onProcess(jack_nframes_t frames);
  void produce(Port& p, jack_nframes_t frames, jack_nframes_t first, double firstHost);
  std::size_t loopDelay() const { return std::max<std::size_t>(capture_ + playback_, 1); }

  jack_client_t* client_ = nullptr;
  jack_nframes_t capture_, playback_;
  double sampleRate_ = 48000;
  std::vector<Port> ports_;  // added before activation only
  mutable std::mutex mutex_;
  JackFrameClock frameClock_;  // process thread
  std::size_t delayIndex_ = 0;
  std::atomic<int> xruns_{0};
  std::atomic<bool> serverGone_{false};
  std::atomic<bool> inCycle_{false};
};

// The JACK server of this test process, started on first use and stopped as the process ends. A test that
// stops or kills it starts it again before it ends.
JackServer& sharedServer();

// The usual cast of the end-to-end tests, each a client of its own with one port: "ltc-player:out",
// "mtc-sender:out", "mtc-receiver:in" and, unless named otherwise, "ltc-recorder:in".
std::unique_ptr<TestClient> ltcPlayer(FrameRate rate, double start, double framesPerSecond);
std::unique_ptr<TestClient> mtcDesk(FrameRate rate, std::int64_t startFrame);  // sends MTC
std::unique_ptr<TestClient> midiRecorder();
std::unique_ptr<TestClient> audioRecorder(double seconds, const std::string& name = "ltc-recorder");

// Connects two ports by full name; true on success, also when already connected.
bool connectPorts(jack_client_t* client, const std::string& from, const std::string& to);
// The full name of the first port whose name matches the regular expression `pattern`; "" when none.
std::string findPort(jack_client_t* client, const std::string& pattern, const char* type,
                     unsigned long flags);
// The JACK ids of the named clients ("none" for a missing one): a client opened anew shows a new id.
std::string clientIds(jack_client_t* client, const std::vector<std::string>& names);

// The listed device `uid`, waited for (2 s at most): PipeWire shows a new client's ports to the other
// clients a moment after it activated, jackd at once.
std::optional<AudioDevice> findDevice(JackDevices& devices, AudioDevice::Scope scope, const std::string& uid);

}  // namespace quillmark::test
