#include "midi/midi_ports.h"

#include <jack/metadata.h>
#include <jack/midiport.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/host_time.h"
#include "jack/jack_buffer_access.h"
#include "jack/jack_client.h"
#include "jack/jack_metadata_lock.h"

namespace quillmark {
namespace {

constexpr const char* kInputPortPrefix = "Input ";
constexpr const char* kOutputPortName = "Output";
constexpr const char* kVirtualSourcePortName = "Virtual out";
constexpr const char* kVirtualDestinationPortName = "Virtual in";

}  // namespace

std::shared_ptr<MIDIPorts> MIDIPorts::create(JackContext context, void (*processThreadInit)()) {
  std::shared_ptr<MIDIPorts> ports(new MIDIPorts(std::move(context)));
  ports->open(processThreadInit);
  return ports;
}

MIDIPorts::MIDIPorts(JackContext context) : context_(std::move(context)) {
  sem_init(&wake_, 0, 0);
  events_.reserve(8);
}

MIDIPorts::~MIDIPorts() {
  // Closing the client first ends the process callback and the notifications, which use `this`.
  if (jack_) jack_client_close(jack_);
  jack_ = nullptr;
  stopping_.store(true, std::memory_order_release);
  sem_post(&wake_);
  if (receiver_.joinable()) receiver_.join();
  sem_destroy(&wake_);
}

void MIDIPorts::open(void (*processThreadInit)()) {
  receiver_ = std::thread([this] { receiveLoop(); });

  jack_status_t status{};
  serverIdentity_ = jackServerIdentity();
  jack_ = openJackClient(context_.clientBase, &status);
  if (!jack_) return;
  clientName_ = jack_get_client_name(jack_);
  sampleRate_ = static_cast<double>(jack_get_sample_rate(jack_));
  periodSeconds_.store(static_cast<double>(jack_get_buffer_size(jack_)) / sampleRate_);

  outputJackPort_ = jack_port_register(jack_, kOutputPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  virtualSourcePort_ =
      jack_port_register(jack_, kVirtualSourcePortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  virtualDestinationPort_ =
      jack_port_register(jack_, kVirtualDestinationPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  // Patchbays that show pretty names present both virtual endpoints under the program's name.
  for (jack_port_t* port : {virtualSourcePort_, virtualDestinationPort_}) {
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    if (port)
      jack_set_property(jack_, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, clientName_.c_str(), nullptr);
  }

  client_ = refFor(clientName_);
  if (outputJackPort_) outputPort_ = refFor(jack_port_name(outputJackPort_));
  if (virtualSourcePort_) virtualSource_ = refFor(jack_port_name(virtualSourcePort_));
  if (virtualDestinationPort_) virtualDestination_ = refFor(jack_port_name(virtualDestinationPort_));

  jack_set_process_callback(jack_, processTrampoline, this);
  jack_set_port_registration_callback(jack_, portRegistrationTrampoline, this);
  jack_set_client_registration_callback(jack_, clientRegistrationTrampoline, this);
  jack_set_port_rename_callback(jack_, portRenameTrampoline, this);
  {
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    jack_set_property_change_callback(jack_, propertyChangeTrampoline, this);
  }
  jack_on_shutdown(jack_, shutdownTrampoline, this);
  jack_set_latency_callback(jack_, latencyTrampoline, this);
  if (processThreadInit) {
    jack_set_thread_init_callback(jack_, threadInitTrampoline, reinterpret_cast<void*>(processThreadInit));
  }
  jack_activate(jack_);

  connectSources();
}

void MIDIPorts::setOnMTC(MTCCallback callback) {
  MutexLock guard(callbackMutex_);
  onMTC_ = std::move(callback);
}

void MIDIPorts::setOnPortsChanged(std::function<void()> callback) {
  onPortsChanged_ = std::move(callback);
}

// ---- Names and references ----

std::uint32_t MIDIPorts::refFor(const std::string& portName) const {
  MutexLock guard(registryMutex_);
  const auto found = refsByName_.find(portName);
  if (found != refsByName_.end()) return found->second;
  const std::uint32_t ref = nextRef_++;
  refsByName_.emplace(portName, ref);
  namesByRef_[ref] = portName;
  return ref;
}

std::string MIDIPorts::portNameOf(std::uint32_t ref) const {
  MutexLock guard(registryMutex_);
  const auto found = namesByRef_.find(ref);
  return found == namesByRef_.end() ? std::string() : found->second;
}

std::string MIDIPorts::displayName(const char* prettyName, const char* portName) {
  if (prettyName && *prettyName) return prettyName;
  if (portName && *portName) return portName;
  return kUnnamed;
}

std::string MIDIPorts::sourceName(std::uint32_t ref) const {
  if (ref == virtualDestination_) return kVirtualPortName;
  const std::string portName = portNameOf(ref);
  if (!jack_ || serverGone_.load() || portName.empty()) return displayName(nullptr, portName.c_str());
  char* pretty = nullptr;
  char* type = nullptr;
  if (jack_port_t* port = jack_port_by_name(jack_, portName.c_str())) {
    std::lock_guard<std::mutex> metadata(jackMetadataMutex());
    jack_get_property(jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, &pretty, &type);
  }
  std::string name = displayName(pretty, portName.c_str());
  if (pretty) jack_free(pretty);
  if (type) jack_free(type);
  return name;
}

bool MIDIPorts::isOwnPort(const char* portName) const {
  const std::size_t n = clientName_.size();
  return std::strncmp(portName, clientName_.c_str(), n) == 0 && portName[n] == ':';
}

std::vector<MIDIPort> MIDIPorts::list(unsigned long direction, std::uint32_t virtualRef) const {
  std::vector<MIDIPort> result{MIDIPort{virtualRef, kVirtualPortName}};
  if (!jack_ || serverGone_.load()) return result;
  const char** names = jack_get_ports(jack_, nullptr, JACK_DEFAULT_MIDI_TYPE, direction);
  if (!names) return result;
  for (const char** name = names; *name; ++name) {
    if (isOwnPort(*name)) continue;
    const std::uint32_t ref = refFor(*name);
    result.push_back(MIDIPort{ref, sourceName(ref)});
  }
  jack_free(names);
  return result;
}

std::vector<MIDIPort> MIDIPorts::sources() const {
  return list(JackPortIsOutput, virtualDestination_);
}

std::vector<MIDIPort> MIDIPorts::destinations() const {
  return list(JackPortIsInput, virtualSource_);
}

// ---- Graph changes (main thread) ----

void MIDIPorts::connectSources() {
  if (!jack_ || serverGone_.load()) return;
  const char** names = jack_get_ports(jack_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  std::vector<std::pair<std::uint32_t, const char*>> present;
  for (const char** name = names; name && *name; ++name) {
    if (!isOwnPort(*name)) present.emplace_back(refFor(*name), *name);  // never hear our own output
  }
  // Sources that left give their ports back first, so those arriving now can take them.
  for (auto it = slotBySource_.begin(); it != slotBySource_.end();) {
    const bool stays =
        std::any_of(present.begin(), present.end(), [&](const auto& p) { return p.first == it->first; });
    if (stays) {
      ++it;
    } else {
      freeSlot(it->second);
      it = slotBySource_.erase(it);
    }
  }
  unheard_ = 0;
  for (const auto& [ref, name] : present) {
    const auto found = slotBySource_.find(ref);
    const std::optional<std::size_t> index =
        found != slotBySource_.end() ? std::optional<std::size_t>(found->second) : takeSlot(ref);
    if (!index) {
      ++unheard_;
      continue;
    }
    jack_port_t* input = slots_[*index].port.load(std::memory_order_relaxed);
    // The source's own capture latency stands until JACK's latency pass reaches our port.
    jack_latency_range_t range{};
    if (jack_port_t* port = jack_port_by_name(jack_, name)) {
      jack_port_get_latency_range(port, JackCaptureLatency, &range);
    }
    slots_[*index].latency.store(range.max, std::memory_order_relaxed);
    // Connecting again what is connected already fails harmlessly (EEXIST).
    if (!jack_port_connected_to(input, name)) jack_connect(jack_, name, jack_port_name(input));
  }
  if (names) jack_free(names);
}

std::optional<std::size_t> MIDIPorts::takeSlot(std::uint32_t source) {
  const std::size_t count = slotCount_.load(std::memory_order_relaxed);
  std::size_t index = 0;
  while (index < count && slots_[index].source.load(std::memory_order_relaxed) != 0) ++index;
  if (index == count) {
    if (count == kMaxSources) return std::nullopt;
    const std::string portName = kInputPortPrefix + std::to_string(count + 1);
    jack_port_t* input =
        jack_port_register(jack_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!input) return std::nullopt;
    slots_[index].port.store(input, std::memory_order_relaxed);
    slotCount_.store(count + 1, std::memory_order_release);  // publishes the port to the process thread
  }
  slots_[index].source.store(source, std::memory_order_release);
  slotBySource_.emplace(source, index);
  return index;
}

void MIDIPorts::freeSlot(std::size_t index) {
  SourceSlot& slot = slots_[index];
  const std::uint32_t source = slot.source.load(std::memory_order_relaxed);
  if (jack_port_t* port = slot.port.load(std::memory_order_relaxed)) jack_port_disconnect(jack_, port);
  slot.source.store(0, std::memory_order_release);
  MutexLock guard(lock_);
  decoders_.erase(source);
  names_.erase(source);
}

void MIDIPorts::readCaptureLatencies() noexcept {
  // Zero is what a port reports before the latency pass has reached it; it never replaces a known value.
  jack_latency_range_t range{};
  if (virtualDestinationPort_) {
    jack_port_get_latency_range(virtualDestinationPort_, JackCaptureLatency, &range);
    if (range.max > 0) virtualLatencyIn_.store(range.max, std::memory_order_relaxed);
  }
  const std::size_t count = slotCount_.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < count; ++i) {
    range = {};
    jack_port_get_latency_range(slots_[i].port.load(std::memory_order_relaxed), JackCaptureLatency, &range);
    if (range.max > 0) slots_[i].latency.store(range.max, std::memory_order_relaxed);
  }
}

void MIDIPorts::latencyTrampoline(jack_latency_callback_mode_t mode, void* arg) {
  if (mode == JackCaptureLatency) static_cast<MIDIPorts*>(arg)->readCaptureLatencies();
}

void MIDIPorts::route(std::uint32_t destination) {
  if (!jack_ || !outputJackPort_) return;
  if (routed_ != 0 && routed_ != destination) {
    const std::string previous = portNameOf(routed_);
    if (!previous.empty()) jack_disconnect(jack_, jack_port_name(outputJackPort_), previous.c_str());
  }
  routed_ = destination;
  connectRoute();
}

void MIDIPorts::connectRoute() {
  if (!jack_ || serverGone_.load() || routed_ == 0 || routed_ == virtualSource_) return;
  const std::string name = portNameOf(routed_);
  if (name.empty() || jack_port_connected_to(outputJackPort_, name.c_str())) return;
  jack_connect(jack_, jack_port_name(outputJackPort_), name.c_str());
}

void MIDIPorts::scheduleSetupChange() {
  // Bursts (a client registering a dozen ports) become one pass on the main thread.
  if (setupPending_.exchange(true)) return;
  context_.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->processSetupChange();
  });
}

void MIDIPorts::processSetupChange() {
  setupPending_.store(false);  // changes from here on schedule another pass
  // PipeWire only, and guarded so: jackd's libjack sends the notice only when its server has really gone
  // (and jackServerIdentity() is always 0 there). PipeWire's libjack (0.3.65) also calls the shutdown
  // callback for an error the daemon reports on a single request, such as "unknown resource" for a source
  // that left while our connection request was on its way, and then carries on with the daemon as before;
  // MIDI would stop following the graph for the rest of the run. A daemon still answering on the socket
  // it had when the client opened has not gone. (One that died is found by JackServerWatch, which polls
  // that socket, and the store then replaces these ports.)
  if (serverGone_.load() && jackIsPipeWire() && serverIdentity_.value_or(0) != 0 &&
      jackServerIdentity() == serverIdentity_)
    serverGone_.store(false);
  {
    MutexLock guard(lock_);
    names_.clear();  // looked up afresh, so a renamed source's events carry its new name
  }
  connectSources();
  connectRoute();
  if (onPortsChanged_) onPortsChanged_();
}

// ---- JACK notifications (JACK's notification thread: only record and post) ----

void MIDIPorts::portRegistrationTrampoline(jack_port_id_t id, int, void* arg) {
  auto* self = static_cast<MIDIPorts*>(arg);
  jack_port_t* port = jack_port_by_id(self->jack_, id);
  if (port) {
    if (jack_port_is_mine(self->jack_, port)) return;  // our own input ports come and go with sources
    const char* type = jack_port_type(port);
    if (type && std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) != 0) return;  // audio is not our business
  }
  self->scheduleSetupChange();
}

void MIDIPorts::clientRegistrationTrampoline(const char*, int registered, void* arg) {
  // A client that goes away may take its ports without a notice per port.
  if (!registered) static_cast<MIDIPorts*>(arg)->scheduleSetupChange();
}

void MIDIPorts::portRenameTrampoline(jack_port_id_t, const char* oldName, const char* newName, void* arg) {
  auto* self = static_cast<MIDIPorts*>(arg);
  if (oldName && newName) {
    // The reference follows the port: it keeps its connection, its decoder and its input port.
    MutexLock guard(self->registryMutex_);
    const auto found = self->refsByName_.find(oldName);
    if (found != self->refsByName_.end()) {
      const std::uint32_t ref = found->second;
      self->refsByName_.erase(found);
      self->refsByName_[newName] = ref;
      self->namesByRef_[ref] = newName;
    }
  }
  self->scheduleSetupChange();
}

void MIDIPorts::propertyChangeTrampoline(jack_uuid_t, const char* key, jack_property_change_t, void* arg) {
  if (key == nullptr || std::strcmp(key, JACK_METADATA_PRETTY_NAME) == 0) {
    static_cast<MIDIPorts*>(arg)->scheduleSetupChange();
  }
}

void MIDIPorts::shutdownTrampoline(void* arg) {
  auto* self = static_cast<MIDIPorts*>(arg);
  self->serverGone_.store(true);
  self->scheduleSetupChange();
}

void MIDIPorts::threadInitTrampoline(void* arg) {
  reinterpret_cast<void (*)()>(arg)();
}

// ---- Receiving (MIDI receive thread) ----

double MIDIPorts::packetTime(double stamp, double now) noexcept {
  if (stamp == 0.0 || !(std::fabs(stamp - now) < 1.0)) return now;
  return stamp;
}

void MIDIPorts::receiveLoop() {
  pthread_setname_np(pthread_self(), "MIDI receive");
  while (true) {
    while (sem_wait(&wake_) != 0 && errno == EINTR) {
    }
    if (stopping_.load(std::memory_order_acquire)) return;
    ReceivedChunk chunk;
    while (inbound_.tryPop(chunk)) handle(chunk);
  }
}

void MIDIPorts::handle(const ReceivedChunk& chunk) {
  const double now = HostTime::now();
  const double time = packetTime(chunk.time, now);
  std::string name;
  events_.clear();
  {
    MutexLock guard(lock_);
    auto cached = names_.find(chunk.source);
    if (cached == names_.end()) cached = names_.emplace(chunk.source, sourceName(chunk.source)).first;
    name = cached->second;
    MTCDecoder& decoder = decoders_[chunk.source];
    decoder.feed(std::span<const std::uint8_t>(chunk.bytes.data(), chunk.length), time,
                 [this](const MTCDecoder::Event& event) { events_.push_back(event); });
  }
  if (events_.empty()) return;
  MutexLock guard(callbackMutex_);
  if (!onMTC_) return;
  for (const MTCDecoder::Event& event : events_) onMTC_(event, name);
}

// ---- The process callback (JACK process thread) ----

int MIDIPorts::processTrampoline(jack_nframes_t frames, void* arg) {
  return static_cast<MIDIPorts*>(arg)->onProcess(frames);
}

int MIDIPorts::onProcess(jack_nframes_t frames) noexcept {
  // Frame offsets become host time through a line fitted to this thread's own wake-ups: the frames are
  // exact, the server's cycle times wander (JackFrameClock says why).
  const double wake = HostTime::now();
  const jack_nframes_t startFrame = jack_last_frame_time(jack_);
  frameClock_.observe(startFrame, wake, sampleRate_);
  const double startHost = frameClock_.hostSeconds(startFrame, 0.0);
  const double secondsPerFrame = frameClock_.secondsPerFrame();
  periodSeconds_.store(frames / sampleRate_, std::memory_order_relaxed);

  bool posted = false;
  // Received events are stamped with the moment they entered the graph: less the capture latency of
  // where they came from, as the LTC input does with audio.
  const double virtualLatency = virtualLatencyIn_.load(std::memory_order_relaxed) * secondsPerFrame;
  receive(virtualDestinationPort_, virtualDestination_, frames, startHost - virtualLatency, secondsPerFrame,
          posted);
  const std::size_t count = slotCount_.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t source = slots_[i].source.load(std::memory_order_acquire);
    if (source == 0) continue;  // a free port: nothing is connected to it
    const double latency = slots_[i].latency.load(std::memory_order_relaxed) * secondsPerFrame;
    receive(slots_[i].port.load(std::memory_order_relaxed), source, frames, startHost - latency,
            secondsPerFrame, posted);
  }
  if (posted) sem_post(&wake_);

  transmit(frames, startHost, secondsPerFrame);
  return 0;
}

void MIDIPorts::receive(jack_port_t* port, std::uint32_t source, jack_nframes_t frames, double startHost,
                        double secondsPerFrame, bool& posted) noexcept {
  if (!port) return;
  const JackBufferAccess input(port, frames);
  void* buffer = input.data();
  if (!buffer) return;
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  for (std::uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    ReceivedChunk chunk;
    chunk.time = startHost + event.time * secondsPerFrame;
    chunk.source = source;
    for (std::size_t at = 0; at < event.size; at += chunk.bytes.size()) {
      chunk.length = static_cast<std::uint8_t>(std::min(chunk.bytes.size(), event.size - at));
      std::memcpy(chunk.bytes.data(), event.buffer + at, chunk.length);
      if (inbound_.tryPush(chunk)) {
        posted = true;
      } else {
        droppedIn_.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }
}

void MIDIPorts::transmit(jack_nframes_t frames, double startHost, double secondsPerFrame) noexcept {
  const JackBufferAccess outputs[2] = {{outputJackPort_, frames}, {virtualSourcePort_, frames}};
  void* buffers[2] = {outputs[0].data(), outputs[1].data()};
  jack_port_t* ports[2] = {outputJackPort_, virtualSourcePort_};
  std::atomic<std::uint32_t>* latencies[2] = {&outputLatency_, &virtualLatency_};
  double latencySeconds[2] = {0.0, 0.0};
  for (int i = 0; i < 2; ++i) {
    if (buffers[i]) jack_midi_clear_buffer(buffers[i]);
    if (ports[i]) {
      jack_latency_range_t range{};
      jack_port_get_latency_range(ports[i], JackPlaybackLatency, &range);
      latencies[i]->store(range.max, std::memory_order_relaxed);
      latencySeconds[i] = range.max / sampleRate_;
    }
  }
  std::int64_t lastOffset[2] = {0, 0};  // JACK wants each buffer's events in time order

  while (true) {
    if (!hasHeld_) {
      if (!outbound_.tryPop(held_)) break;
      hasHeld_ = true;
    }
    const int which = held_.toVirtualSource ? 1 : 0;
    // Written `latency` early, the message is heard at its due time downstream.
    const double fromStart = held_.due - latencySeconds[which] - startHost;
    auto offset = static_cast<std::int64_t>(std::llround(fromStart / secondsPerFrame));
    // A due time more than a second ahead is no message the sender would queue; it can only come from a
    // clock glitch, and holding it would hold up everything behind it.
    if (offset >= static_cast<std::int64_t>(frames) && fromStart < 1.0) break;  // a later cycle's
    if (offset < 0 || offset >= static_cast<std::int64_t>(frames)) {
      late_.fetch_add(1, std::memory_order_relaxed);  // missed its cycle: goes out at the start of this one
      offset = 0;
    }
    offset = std::max(offset, lastOffset[which]);
    hasHeld_ = false;
    if (!buffers[which] || jack_midi_event_write(buffers[which], static_cast<jack_nframes_t>(offset),
                                                 held_.bytes.data(), held_.length) != 0) {
      droppedOut_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    lastOffset[which] = offset;
  }
}

// ---- Sending (sender thread) ----

bool MIDIPorts::send(std::uint32_t destination, std::span<const std::uint8_t> bytes, double due) noexcept {
  OutgoingMessage message;
  message.length = static_cast<std::uint8_t>(std::min(bytes.size(), message.bytes.size()));
  std::memcpy(message.bytes.data(), bytes.data(), message.length);
  message.toVirtualSource = destination != 0 && destination == virtualSource_;
  message.due = due;
  if (outbound_.tryPush(message)) return true;
  droppedOut_.fetch_add(1, std::memory_order_relaxed);
  return false;
}

double MIDIPorts::sendAheadHorizon(std::uint32_t destination) const noexcept {
  const bool toVirtual = destination != 0 && destination == virtualSource_;
  const std::uint32_t latency =
      (toVirtual ? virtualLatency_ : outputLatency_).load(std::memory_order_relaxed);
  return periodSeconds_.load(std::memory_order_relaxed) + latency / sampleRate_;
}

bool MIDIPorts::isHeard(std::uint32_t destination) const noexcept {
  if (!jack_ || serverGone_.load()) return false;
  jack_port_t* port =
      destination != 0 && destination == virtualSource_ ? virtualSourcePort_ : outputJackPort_;
  // Off the process thread jackd2's libjack answers only once a pending graph change has taken effect (it
  // waits about a period for it). PipeWire's answers from the links its client knows of, which appear once
  // PipeWire has made them.
  return port && jack_port_connected(port) > 0;
}

}  // namespace quillmark
