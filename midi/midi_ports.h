#pragma once
// MIDIPorts is Quillmark's one MIDI client, a JACK client named after its context's client base
// ("Quillmark", or "Quillmark-<profile>"; clientName() is what JACK really gave it). It listens to every
// other program's MIDI output, each through an input port of its own (JACK merges whatever is connected to
// one port, and each source must keep its own MTCDecoder and name), and to its virtual destination, an input
// port other programs write to. It decodes MTC per source and hands each event with the source's name to
// onMTC. It offers a virtual source (an output port other programs read from) on which the MTC sender
// publishes, and owns the "Output" port it connects to the destination the sender was given. It lists
// sources and destinations for the pickers and tells its owner when the JACK graph's MIDI ports change.
//
// Time: received events are stamped with the host time of their frame offset in the JACK cycle; outgoing
// messages are written into the cycle at the frame offset where they are due. A message can only land on
// its frame if it is queued before that cycle begins, hence sendAheadHorizon().
//
// Threads:
// - create(), the destructor, sources(), destinations(), route(), the setters: main thread.
// - onProcess: the JACK process thread; no allocation, no lock, no log. It moves received bytes to the
//   "MIDI receive" thread and outgoing messages from the sender through lock-free queues.
// - onMTC runs on the "MIDI receive" thread, after `lock` is released.
// - onPortsChanged runs on the main thread, through the context's poster.
// - send() from one thread at a time (the MTC sender; MTCOutput guarantees a single loop).

#include <jack/jack.h>
#include <jack/metadata.h>
#include <semaphore.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/mutex.h"
#include "jack/jack_context.h"
#include "jack/jack_frame_clock.h"
#include "jack/realtime.h"
#include "midi/midi_port.h"
#include "midi/mtc_decoder.h"
#include "midi/spsc_queue.h"

namespace quillmark {

class MIDIPorts : public std::enable_shared_from_this<MIDIPorts> {
 public:
  using MTCCallback = std::function<void(const MTCDecoder::Event& event, const std::string& sourceName)>;

  static constexpr const char* kVirtualPortName = "Virtual port";
  static constexpr const char* kUnnamed = "MIDI";
  // Other programs' sources are each heard through an input port of a pool: a source that leaves gives
  // its port back (disconnected, its decoder dropped) for the next one to take. Sources present at once
  // beyond the pool's size are listed but not heard; unheardSources() counts them.
  static constexpr std::size_t kMaxSources = 96;

  // Opens the client on the running JACK server (never starting one). When there is no server every
  // reference stays 0 and the lists hold only "Virtual port": MIDI simply does not work, as with any
  // other failed MIDI call. The client is named after `context`'s base, and graph changes reach the main
  // thread through its poster (none: onPortsChanged is never called).
  // `processThreadInit`, when given, runs once on each thread libjack starts for the client before that
  // thread does anything else: the process thread, and with jackd2 its notification thread too, whose
  // graph notices may allocate (the tests use it to watch the process thread's allocations, over
  // stretches without graph changes).
  static std::shared_ptr<MIDIPorts> create(JackContext context, void (*processThreadInit)() = nullptr);
  ~MIDIPorts();
  MIDIPorts(const MIDIPorts&) = delete;
  MIDIPorts& operator=(const MIDIPorts&) = delete;

  // Receives every decoded event on the MIDI receive thread; events decoded while none is set are dropped.
  void setOnMTC(MTCCallback callback);
  // Called on the main thread after a change of MIDI ports has been handled.
  void setOnPortsChanged(std::function<void()> callback);

  // "Virtual port" (ref = virtualDestination) first, then every other program's MIDI output port in
  // JACK's order. Queries JACK on every call.
  std::vector<MIDIPort> sources() const;
  // "Virtual port" (ref = virtualSource) first, then every other program's MIDI input port.
  std::vector<MIDIPort> destinations() const;

  // The name JACK gave the client ("" without a server): "Quillmark" or "Quillmark-<profile>", or a
  // numbered one ("Quillmark-01") when another client already has that name; the part before ':' in the
  // names of our ports. Constant after construction.
  const std::string& clientName() const noexcept { return clientName_; }

  // References never change after creation.
  std::uint32_t client() const noexcept { return client_; }
  std::uint32_t outputPort() const noexcept { return outputPort_; }
  std::uint32_t virtualSource() const noexcept { return virtualSource_; }
  std::uint32_t virtualDestination() const noexcept { return virtualDestination_; }

  // Main thread: makes `destination` the one port the "Output" port is connected to (the previous
  // destination is disconnected). The virtual source needs no connection: other programs connect to it.
  // Kept across graph changes, so a destination that comes back is reconnected.
  void route(std::uint32_t destination);

  // Sender thread: queues `bytes` (at most 10) to go out at host time `due`, on the virtual source when
  // `destination` is virtualSource, else through "Output". False when the queue is full (counted).
  bool send(std::uint32_t destination, std::span<const std::uint8_t> bytes, double due) noexcept QM_REALTIME;

  // Seconds before its due time a message must be queued to land on its exact frame: one period plus the
  // playback latency of the port it goes out on.
  double sendAheadHorizon(std::uint32_t destination) const noexcept;

  // Sender thread: whether the port messages for `destination` go out on is connected in the graph the
  // process cycles run. A connection JACK has just made takes effect at a later cycle's start (on a busy
  // machine tens of milliseconds later); what is written before that reaches no one.
  bool isHeard(std::uint32_t destination) const noexcept;

  // Messages written at the start of a cycle later than the one their due time falls in.
  std::uint64_t lateMessages() const noexcept { return late_.load(std::memory_order_relaxed); }
  // Outgoing messages lost to a full queue or a full JACK buffer.
  std::uint64_t droppedMessages() const noexcept { return droppedOut_.load(std::memory_order_relaxed); }
  // Main thread: sources present now that no input port was left for (see kMaxSources).
  std::size_t unheardSources() const noexcept { return unheard_; }
  // Received bytes lost to a full queue.
  std::uint64_t droppedEvents() const noexcept { return droppedIn_.load(std::memory_order_relaxed); }

  // The time a received packet is decoded at: its stamp, unless the stamp is missing (0) or lies 1 s or
  // more from `now` in either direction, in which case `now`.
  static double packetTime(double stamp, double now) noexcept;

  // The name an endpoint is shown with: its JACK pretty name when it has a non-empty one, else its full
  // port name ("client:port"), and "MIDI" when that is empty too.
  static std::string displayName(const char* prettyName, const char* portName);

 private:
  struct OutgoingMessage {
    std::array<std::uint8_t, 10> bytes{};
    std::uint8_t length = 0;
    bool toVirtualSource = false;
    double due = 0.0;
  };
  // Received bytes on their way to the receive thread. A long event (system exclusive) travels as several
  // chunks with the same stamp; the decoder takes a message split across packets.
  struct ReceivedChunk {
    double time = 0.0;
    std::uint32_t source = 0;
    std::uint8_t length = 0;
    std::array<std::uint8_t, 19> bytes{};
  };
  // One input port of the pool. `source` is 0 while the port is free; it is set before the port is
  // connected to its source and cleared after it is disconnected, so every event the process thread reads
  // from the port carries the right source.
  struct SourceSlot {
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<std::uint32_t> source{0};
    std::atomic<jack_nframes_t> latency{0};  // frames: capture latency of the source's port
  };

  explicit MIDIPorts(JackContext context);
  void open(void (*processThreadInit)());
  void connectSources();
  void connectRoute();
  void scheduleSetupChange();
  void processSetupChange();
  void receiveLoop();
  void handle(const ReceivedChunk& chunk);
  std::uint32_t refFor(const std::string& portName) const;
  std::string portNameOf(std::uint32_t ref) const;
  std::string sourceName(std::uint32_t ref) const;
  bool isOwnPort(const char* portName) const;
  std::vector<MIDIPort> list(unsigned long direction, std::uint32_t virtualRef) const;

  int onProcess(jack_nframes_t frames) noexcept QM_REALTIME;
  void receive(jack_port_t* port, std::uint32_t source, jack_nframes_t frames, double startHost,
               double secondsPerFrame, bool& posted) noexcept QM_REALTIME;
  void freeSlot(std::size_t index);
  std::optional<std::size_t> takeSlot(std::uint32_t source);
  void readCaptureLatencies() noexcept;
  void transmit(jack_nframes_t frames, double startHost, double secondsPerFrame) noexcept QM_REALTIME;

  static int processTrampoline(jack_nframes_t frames, void* arg);
  static void portRegistrationTrampoline(jack_port_id_t id, int registered, void* arg);
  static void clientRegistrationTrampoline(const char* name, int registered, void* arg);
  static void portRenameTrampoline(jack_port_id_t id, const char* oldName, const char* newName, void* arg);
  static void propertyChangeTrampoline(jack_uuid_t subject, const char* key, jack_property_change_t change,
                                       void* arg);
  static void shutdownTrampoline(void* arg);
  static void threadInitTrampoline(void* arg);
  static void latencyTrampoline(jack_latency_callback_mode_t mode, void* arg);

  const JackContext context_;  // constant after construction
  jack_client_t* jack_ = nullptr;
  std::string clientName_;  // the name JACK gave the client
  jack_port_t* outputJackPort_ = nullptr;
  jack_port_t* virtualSourcePort_ = nullptr;
  jack_port_t* virtualDestinationPort_ = nullptr;
  std::uint32_t client_ = 0;
  std::uint32_t outputPort_ = 0;
  std::uint32_t virtualSource_ = 0;
  std::uint32_t virtualDestination_ = 0;
  double sampleRate_ = 48000.0;
  std::atomic<bool> serverGone_{false};
  std::optional<std::uint64_t> serverIdentity_;  // jackServerIdentity() when the client opened

  // Port name <-> reference, stable for a name during the run; a rename carries the reference along.
  mutable Mutex registryMutex_;
  mutable std::unordered_map<std::string, std::uint32_t> refsByName_ QM_GUARDED_BY(registryMutex_);
  mutable std::unordered_map<std::uint32_t, std::string> namesByRef_ QM_GUARDED_BY(registryMutex_);
  mutable std::uint32_t nextRef_ QM_GUARDED_BY(registryMutex_) = 1;

  // Input ports for sources; registered on the main thread (never unregistered, but given back and
  // taken again), read by the process thread.
  std::array<SourceSlot, kMaxSources> slots_;
  std::atomic<std::size_t> slotCount_{0};
  std::unordered_map<std::uint32_t, std::size_t> slotBySource_;  // main thread only
  std::size_t unheard_ = 0;                                      // main thread only
  std::atomic<jack_nframes_t> virtualLatencyIn_{0};  // frames: capture latency of the virtual destination

  std::uint32_t routed_ = 0;  // main thread only: the destination "Output" is connected to

  // Guards decoders_ and names_ (the receive thread feeds, the main thread empties the name cache).
  mutable Mutex lock_;
  std::unordered_map<std::uint32_t, MTCDecoder> decoders_ QM_GUARDED_BY(lock_);
  mutable std::unordered_map<std::uint32_t, std::string> names_ QM_GUARDED_BY(lock_);

  Mutex callbackMutex_;  // serialises onMTC_ with its setter
  MTCCallback onMTC_ QM_GUARDED_BY(callbackMutex_);
  std::function<void()> onPortsChanged_;  // main thread only
  std::atomic<bool> setupPending_{false};

  // Real-time crossings.
  SpscQueue<OutgoingMessage, 256> outbound_;  // sender -> process
  SpscQueue<ReceivedChunk, 1024> inbound_;    // process -> receive thread
  OutgoingMessage held_{};                    // process thread: popped but due in a later cycle
  bool hasHeld_ = false;                      // process thread
  JackFrameClock frameClock_;
  std::atomic<double> periodSeconds_{0.0};
  std::atomic<std::uint32_t> outputLatency_{0};   // frames, playback latency of "Output"
  std::atomic<std::uint32_t> virtualLatency_{0};  // frames, playback latency of the virtual source
  std::atomic<std::uint64_t> late_{0};
  std::atomic<std::uint64_t> droppedOut_{0};
  std::atomic<std::uint64_t> droppedIn_{0};

  sem_t wake_{};  // posted by the process thread when received bytes are queued
  std::atomic<bool> stopping_{false};
  std::thread receiver_;
  std::vector<MTCDecoder::Event> events_;  // receive thread only, reused
};

}  // namespace quillmark
