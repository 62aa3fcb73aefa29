#include "app/timecode_store.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <utility>

#include "app/jack_server_watch.h"
#include "app/persistence.h"
#include "app/profile.h"
#include "audio/audio_error.h"
#include "audio/jack_devices.h"
#include "core/host_time.h"
#include "core/timecode.h"
#include "jack/jack_client.h"
#include "jack/main_thread.h"

namespace quillmark {
namespace {

// Channel numbers are 64-bit in the settings; the devices count them in int.
int channelNumber(std::int64_t channel) {
  return static_cast<int>(std::clamp<std::int64_t>(channel, 0, INT_MAX));
}

std::optional<AudioDevice> deviceWithUID(const std::vector<AudioDevice>& devices,
                                         const std::optional<std::string>& uid) {
  if (!uid) return std::nullopt;
  const auto it =
      std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& d) { return d.uid == *uid; });
  if (it == devices.end()) return std::nullopt;
  return *it;
}

// What an empty device choice is filled in with: the device the system offers by default when it is
// listed, else the first one listed, else none.
std::optional<std::string> defaultDeviceUID(const std::vector<AudioDevice>& devices,
                                            AudioDevice::Scope scope) {
  if (devices.empty()) return std::nullopt;
  const std::optional<std::uint32_t> id = AudioDevice::defaultDeviceID(scope);
  if (id && *id != 0) {
    for (const AudioDevice& device : devices) {
      if (device.id == *id) return device.uid;
    }
  }
  return devices.front().uid;
}

// Ports are 64-bit in the settings (JSON numbers); a socket takes 16 bits.
std::uint16_t portNumber(std::int64_t port) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(port, 0, 65535));
}

// The store that handles a lost JACK server before the audio and MIDI layers react to it; main thread.
TimecodeStore* storeOfThisProcess = nullptr;

constexpr const char* kNoServerLine = "No JACK server reachable: trying again every 2 seconds";

}  // namespace

// Hands the audio and MIDI layers' notices to the main thread's event loop. The application object is the
// context, not the store, so a notice whose owner outlives a store (the device list) is never lost. Each
// notice first lets the store confirm the server: when it died, the store closes its clients before the
// notice's own work can open a new one (which would make libjack free them under their owners).
void TimecodeStore::installMainThreadPoster() {
  setMainThreadPoster([](MainThreadTask task) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(
          app,
          [task = std::move(task)] {
            if (storeOfThisProcess) storeOfThisProcess->checkJackServer();
            task();
          },
          Qt::QueuedConnection);
    }
  });
}

TimecodeStore::TimecodeStore(QObject* parent)
    : TimecodeStore(std::make_unique<Persistence>(processProfile()), parent) {}

TimecodeStore::TimecodeStore(std::unique_ptr<Persistence> persistence, QObject* parent)
    : QObject(parent),
      persistence_(std::move(persistence)),
      live_(new LiveStatus(this)),
      details_(new DetailStatus(this)) {
  storeOfThisProcess = this;
  installMainThreadPoster();
  setJackClientBase(processProfile());
  // Before the engine, so that a missing server is known (and its complaints quieted) from the start.
  serverWatch_ = new JackServerWatch(kServerRetryMilliseconds, this);
  engine_ = std::make_unique<TimecodeEngine>();

  settings_ = persistence_->loadSettings();
  displayStyle_ = persistence_->loadDisplayStyle();

  refreshDevices();

  const QPointer<TimecodeStore> self(this);
  {
    const double now = HostTime::now();
    const Settings& s = settings_;
    engine_->generator.update([&](Generator& g) {
      g = Generator::fromSettings(s.generatorRate, s.timeOfDay, s.generatorStart, now);
    });
  }

  AudioDevice::observeChanges([self] {
    if (!self) return;
    self->later([store = self.data()] { store->onDevicesChanged(); });
  });
  wireEngine();

  apply(std::nullopt);

  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  timer_->setInterval(1000 / kTicksPerSecond);
  connect(timer_, &QTimer::timeout, this, [this] { later([this] { refresh(); }); });
  timer_->start();

  connect(serverWatch_, &JackServerWatch::serverLost, this, &TimecodeStore::onServerLost);
  connect(serverWatch_, &JackServerWatch::serverFound, this, &TimecodeStore::onServerFound);
  if (!serverWatch_->isReachable()) log(kNoServerLine);
}

TimecodeStore::~TimecodeStore() {
  if (storeOfThisProcess == this) storeOfThisProcess = nullptr;
  // The engine goes first: its threads and JACK clients stop before the rest of the store is torn down.
  engine_.reset();
}

template <class F>
void TimecodeStore::later(F&& work) {
  QMetaObject::invokeMethod(this, std::forward<F>(work), Qt::QueuedConnection);
}

const std::optional<std::string>& TimecodeStore::profile() {
  return processProfile();
}

bool TimecodeStore::jackServerReachable() const noexcept {
  return serverWatch_ && serverWatch_->isReachable();
}

// ---- Settings and style ----

void TimecodeStore::setSettings(const Settings& settings) {
  const Settings old = settings_;
  settings_ = settings;
  emit settingsChanged(settings_);
  if (settings_ == old) return;
  save();
  apply(old);
}

void TimecodeStore::save() {
  persistence_->saveSettings(settings_);
}

void TimecodeStore::setDisplayStyle(const DisplayStyle& style) {
  displayStyle_ = style;
  emit displayStyleChanged(displayStyle_);
  persistence_->saveDisplayStyle(displayStyle_);
}

void TimecodeStore::setInputError(std::optional<std::string> error) {
  inputError_ = std::move(error);
  emit inputErrorChanged();
}

void TimecodeStore::setOutputError(std::optional<std::string> error) {
  outputError_ = std::move(error);
  emit outputErrorChanged();
}

void TimecodeStore::setArtNetOutError(std::optional<std::string> error) {
  artnetOutError_ = std::move(error);
  emit artnetOutErrorChanged();
}

std::optional<AudioDevice> TimecodeStore::selectedInput() const {
  return deviceWithUID(inputDevices_, settings_.ltcInputUID);
}

std::optional<AudioDevice> TimecodeStore::selectedOutput() const {
  return deviceWithUID(outputDevices_, settings_.ltcOutUID);
}

// ---- Applying the settings ----

void TimecodeStore::apply(const std::optional<Settings>& changedFrom) {
  const Settings s = settings_;
  TimecodeEngineCore& engine = core();
  engine.source.store(s.source);
  engine.rateOverride.store(s.inputRate);
  engine.mtcSourceName.assign(s.mtcInputName);
  engine.clock.withLock([&](TimecodeClock& c) {
    c.freewheelDuration = s.freewheel;
    c.detectsPulldown = !s.inputRate.has_value();
  });
  if (engine_) {
    const double offset = static_cast<double>(s.offsetFrames);
    engine_->ltcOutput.offsetFrames.store(offset);
    const auto amplitude = static_cast<float>(std::pow(10.0, s.ltcOutLevel / 20.0));
    engine_->ltcOutput.amplitude.store(amplitude);
    engine_->mtcOutput().offsetFrames.store(offset);
    engine_->mtcOutput().leadTime.store(s.mtcLeadMilliseconds / 1000.0);
    engine_->artnetOutput.offsetFrames.store(offset);
    engine_->artnetOutput.leadTime.store(s.artnetLeadMilliseconds / 1000.0);
  }
  engine.generator.update([&](Generator& g) {
    if (g.rate != s.generatorRate) g.changeRate(s.generatorRate, HostTime::now());
    g.timeOfDay = s.timeOfDay;
  });

  if (changedFrom && (changedFrom->source != s.source || changedFrom->inputRate != s.inputRate ||
                      changedFrom->mtcInputName != s.mtcInputName)) {
    engine.resetInput();
    if (s.source == SourceKind::mtc && !s.mtcInputName.empty()) {
      log("Input: MTC from " + s.mtcInputName);
    } else {
      log("Input: " + std::string(rawValue(s.source)));
    }
  }

  applyLTCInput();
  applyArtNetInput();
  applyOutputs();
  applyArtNetOutput();
}

void TimecodeStore::applyLTCInput() {
  const Settings& s = settings_;
  const std::optional<AudioDevice> device = engine_ ? selectedInput() : std::nullopt;
  if (s.source == SourceKind::ltc && device) {
    const RunningInput wanted{device->uid, s.ltcInputChannel};
    if (runningInput_ == wanted) return;
    try {
      engine_->ltcInput.start(*device, channelNumber(s.ltcInputChannel));
      runningInput_ = wanted;
      setInputError(std::nullopt);
      // The same input started again (a device that came back, a new buffer size) continues the code the
      // clock holds: it freewheels over the gap instead of stopping and locking again.
      if (lastStartedInput_ != wanted) engine_->resetInput();
      lastStartedInput_ = wanted;
    } catch (const AudioError& error) {
      runningInput_.reset();
      setInputError(error.description());
    }
    return;
  }
  if (runningInput_) {
    if (engine_) engine_->ltcInput.stop();
    runningInput_.reset();
  }
  if (s.source == SourceKind::ltc) {
    setInputError(std::string("No audio input found."));
  } else {
    setInputError(std::nullopt);
  }
}

void TimecodeStore::stopMTCOutput() {
  if (engine_) engine_->mtcOutput().stop();
  runningMTCOut_.reset();
}

void TimecodeStore::applyOutputs() {
  const Settings& s = settings_;
  const auto destination = std::find_if(midiDestinations_.begin(), midiDestinations_.end(),
                                        [&](const MIDIPort& p) { return p.name == s.mtcOutName; });
  if (engine_ && s.mtcOutEnabled && runningMTCOut_ == s.mtcOutName) {
    // Running on its destination: one that left is connected again by the MIDI client when it returns,
    // while the sender runs on.
  } else if (engine_ && s.mtcOutEnabled && destination != midiDestinations_.end()) {
    engine_->mtcOutput().start(destination->ref);
    runningMTCOut_ = s.mtcOutName;
  } else if (runningMTCOut_) {
    stopMTCOutput();
  }

  // Assigned once, so that a watcher never sees the error cleared and set again within one pass.
  std::optional<std::string> error;
  const std::optional<AudioDevice> device = engine_ ? selectedOutput() : std::nullopt;
  if (s.ltcOutEnabled && device) {
    const LTCOutput::Channels channels{channelNumber(s.ltcOutChannel), s.ltcOutPair ? 2 : 1};
    const RunningLTCOut wanted{device->uid, channels};
    if (runningLTCOut_ != wanted) {
      try {
        engine_->ltcOutput.start(*device, channels);
        runningLTCOut_ = wanted;
      } catch (const AudioError& failure) {
        runningLTCOut_.reset();
        error = failure.description();
      }
    }
  } else {
    if (runningLTCOut_) {
      if (engine_) engine_->ltcOutput.stop();
      runningLTCOut_.reset();
    }
    if (s.ltcOutEnabled) error = "No audio output found.";
  }
  setOutputError(std::move(error));
}

void TimecodeStore::applyArtNetInput() {
  const Settings& s = settings_;
  if (engine_ && s.source == SourceKind::artnet) {
    const RunningArtNetIn wanted{s.artnetInAddress, s.artnetInPort, s.freewheel};
    if (runningArtNetIn_ == wanted) return;
    // A sender that falls silent for the freewheel time has stopped, so another may take over.
    const ArtNetInput::Config config{s.artnetInAddress, portNumber(s.artnetInPort), s.freewheel};
    // A new freewheel time restarts the receiver on the same socket address: the code being followed
    // carries on, so what was learned from it stays.
    const bool sameStream = runningArtNetIn_ && runningArtNetIn_->address == wanted.address &&
                            runningArtNetIn_->port == wanted.port;
    try {
      engine_->artnetInput.start(config);
      runningArtNetIn_ = wanted;
      setInputError(std::nullopt);
      if (!sameStream) engine_->resetInput();
    } catch (const std::system_error& error) {
      runningArtNetIn_.reset();
      setInputError(std::string(error.what()));
    }
    return;
  }
  if (runningArtNetIn_) {
    if (engine_) engine_->artnetInput.stop();
    runningArtNetIn_.reset();
  }
}

void TimecodeStore::applyArtNetOutput() {
  const Settings& s = settings_;
  if (engine_ && s.artnetOutEnabled) {
    const RunningArtNetOut wanted{s.artnetOutAddress, s.artnetOutPort};
    if (runningArtNetOut_ == wanted) return;
    try {
      engine_->artnetOutput.start(s.artnetOutAddress, portNumber(s.artnetOutPort));
      runningArtNetOut_ = wanted;
      setArtNetOutError(std::nullopt);
    } catch (const std::system_error& error) {
      engine_->artnetOutput.stop();
      runningArtNetOut_.reset();
      setArtNetOutError(std::string(error.what()));
    }
    return;
  }
  if (runningArtNetOut_) {
    if (engine_) engine_->artnetOutput.stop();
    runningArtNetOut_.reset();
  }
  if (artnetOutError_) setArtNetOutError(std::nullopt);
}

void TimecodeStore::stopArtNet() {
  if (engine_) {
    engine_->artnetOutput.stop();
    engine_->artnetInput.stop();
  }
  runningArtNetOut_.reset();
  runningArtNetIn_.reset();
}

// ---- Devices ----

bool TimecodeStore::refreshDevices() {
  // Every graph change comes here, most of them changing no list: the windows hear of real changes only.
  bool changed = false;
  auto inputs = AudioDevice::all(AudioDevice::Scope::input);
  if (inputs != inputDevices_) {
    changed = true;
    inputDevices_ = std::move(inputs);
    emit inputDevicesChanged();
  }
  auto outputs = AudioDevice::all(AudioDevice::Scope::output);
  if (outputs != outputDevices_) {
    changed = true;
    outputDevices_ = std::move(outputs);
    emit outputDevicesChanged();
  }
  // Without an engine there is only our own virtual port, which comes back with the server.
  auto sources =
      engine_ ? engine_->ports->sources() : std::vector<MIDIPort>{MIDIPort{0, MIDIPorts::kVirtualPortName}};
  if (sources != midiSources_) {
    changed = true;
    midiSources_ = std::move(sources);
    emit midiSourcesChanged();
  }
  auto destinations = engine_ ? engine_->ports->destinations()
                              : std::vector<MIDIPort>{MIDIPort{0, MIDIPorts::kVirtualPortName}};
  if (destinations != midiDestinations_) {
    changed = true;
    midiDestinations_ = std::move(destinations);
    emit midiDestinationsChanged();
  }

  if (!settings_.ltcInputUID) {
    Settings filled = settings_;
    filled.ltcInputUID = defaultDeviceUID(inputDevices_, AudioDevice::Scope::input);
    setSettings(filled);
  }
  if (!settings_.ltcOutUID) {
    Settings filled = settings_;
    filled.ltcOutUID = defaultDeviceUID(outputDevices_, AudioDevice::Scope::output);
    setSettings(filled);
  }
  return changed;
}

void TimecodeStore::restartAudio(const std::string& reason) {
  refreshDevices();
  if (runningInput_) {
    if (engine_) engine_->ltcInput.stop();
    runningInput_.reset();
  }
  if (runningLTCOut_) {
    if (engine_) engine_->ltcOutput.stop();
    runningLTCOut_.reset();
  }
  apply(std::nullopt);
  if (inputError_) {
    log(reason + ": " + *inputError_);
  } else if (outputError_) {
    log(reason + ": " + *outputError_);
  } else {
    log(reason);
  }
}

bool TimecodeStore::ltcInputHolds() const {
  const std::optional<AudioDevice> device = selectedInput();
  if (!engine_ || !device) return false;
  const std::vector<std::string> ports =
      JackDevices::shared().portsOf(device->uid, AudioDevice::Scope::input);
  if (ports.empty()) return false;
  const auto channel = static_cast<std::size_t>(
      std::clamp(channelNumber(settings_.ltcInputChannel), 0, static_cast<int>(ports.size()) - 1));
  return engine_->ltcInput.isConnectedTo(ports[channel]);
}

bool TimecodeStore::ltcOutputHolds() const {
  const std::optional<AudioDevice> device = selectedOutput();
  if (!engine_ || !device) return false;
  const std::vector<std::string> ports =
      JackDevices::shared().portsOf(device->uid, AudioDevice::Scope::output);
  if (ports.empty()) return false;
  const LTCOutput::Channels used = LTCOutput::clamp(
      {channelNumber(settings_.ltcOutChannel), settings_.ltcOutPair ? 2 : 1}, static_cast<int>(ports.size()));
  const auto first = ports.begin() + used.first;
  return engine_->ltcOutput.isConnectedTo(std::vector<std::string>(first, first + used.count));
}

void TimecodeStore::onDevicesChanged() {
  const bool listsChanged = refreshDevices();
  bool restarted = false;
  // Restarted only when the graph change cut what it reads or plays: its device left or came back, or the
  // port its channel maps to is another one now.
  if (runningInput_ && !ltcInputHolds()) {
    if (engine_) engine_->ltcInput.stop();
    runningInput_.reset();
    restarted = true;
  }
  if (runningLTCOut_ && !ltcOutputHolds()) {
    if (engine_) engine_->ltcOutput.stop();
    runningLTCOut_.reset();
    restarted = true;
  }
  // With the lists as they were and nothing cut off there is nothing to start either. An input or output
  // that failed to start is tried again when the lists change, not on every notice: the attempt itself
  // opens and closes a client, which would bring the next notice.
  if (!restarted && !listsChanged) return;
  const auto inputBefore = runningInput_;
  const auto outputBefore = runningLTCOut_;
  const auto inputErrorBefore = inputError_;
  const auto outputErrorBefore = outputError_;
  apply(std::nullopt);
  if (!restarted && inputBefore == runningInput_ && outputBefore == runningLTCOut_ &&
      inputErrorBefore == inputError_ && outputErrorBefore == outputError_) {
    return;  // nothing of ours was touched: nothing to say
  }
  if (inputError_) {
    log("Audio devices changed: " + *inputError_);
  } else if (outputError_) {
    log("Audio devices changed: " + *outputError_);
  } else {
    log("Audio devices changed");
  }
}

void TimecodeStore::onMIDIPortsChanged() {
  // The MIDI client may hear of a change first (an audio device that also had MIDI ports): judged the same
  // way, so that an input the change cut off is logged whichever notice comes first.
  onDevicesChanged();
  // Sources beyond the MIDI client's input ports are listed but not heard; said once when it begins.
  const std::size_t unheard = engine_ ? engine_->ports->unheardSources() : 0;
  if (unheard > 0 && unheardMIDISources_ == 0) {
    log("MIDI sources beyond " + std::to_string(MIDIPorts::kMaxSources) + " are not heard");
  }
  unheardMIDISources_ = unheard;
}

// ---- JACK server loss ----

void TimecodeStore::checkJackServer() {
  if (engine_ && serverWatch_->isReachable()) serverWatch_->verify();  // emits serverLost when it fails
}

void TimecodeStore::onServerLost() {
  if (!engine_) return;
  // The engine's clients belong to the dead server and must be closed before anything opens a client
  // again. A stand-in core keeps the generator running and the settings applied meanwhile.
  auto standIn = std::make_unique<TimecodeEngineCore>();
  const Generator generator = engine_->generator.read();
  standIn->generator.withLock([&](Generator& g) { g = generator; });
  runningInput_.reset();
  runningLTCOut_.reset();
  runningMTCOut_.reset();
  stopArtNet();
  engine_.reset();
  offlineCore_ = std::move(standIn);
  // Like unplugging every device at once: what ran is stopped and the errors say why.
  restartAudio("JACK server stopped");
  log(kNoServerLine);
}

void TimecodeStore::onServerFound() {
  // The engine's MIDI client and outputs are made afresh on this server. The generator's transport
  // carries over, so a running generator keeps running.
  const Generator generator = core().generator.read();
  runningInput_.reset();
  runningLTCOut_.reset();
  runningMTCOut_.reset();
  stopArtNet();
  engine_.reset();
  engine_ = std::make_unique<TimecodeEngine>();
  offlineCore_.reset();
  engine_->generator.withLock([&](Generator& g) { g = generator; });
  wireEngine();
  restartAudio("JACK server started");
}

void TimecodeStore::wireEngine() {
  const QPointer<TimecodeStore> self(this);
  engine_->ports->setOnPortsChanged([self] {
    if (!self) return;
    self->later([store = self.data()] { store->onMIDIPortsChanged(); });
  });
  engine_->ltcInput.onConfigurationChange = [self] {
    if (!self) return;
    self->later([store = self.data()] { store->restartAudio("Audio input changed"); });
  };
  engine_->ltcOutput.onConfigurationChange = [self] {
    if (!self) return;
    self->later([store = self.data()] { store->restartAudio("Audio output changed"); });
  };
}

// ---- Generator transport ----

void TimecodeStore::play() {
  const double now = HostTime::now();
  core().generator.update([&](Generator& g) { g.start(now); });
  log("Generator started");
}

void TimecodeStore::stop() {
  const double now = HostTime::now();
  core().generator.update([&](Generator& g) { g.stop(now); });
  log("Generator stopped");
}

bool TimecodeStore::locate(std::string_view text) {
  const std::optional<Timecode> label = Timecode::parse(text);
  const FrameRate rate = settings_.generatorRate;
  if (!label || !label->isValid(rate)) return false;
  const double now = HostTime::now();
  const bool located = core().generator.update([&](Generator& g) { return g.locate(text, rate, now); });
  if (!located) return false;

  char start[96];
  std::snprintf(start, sizeof start, "%02lld:%02lld:%02lld%s%02lld", static_cast<long long>(label->hours),
                static_cast<long long>(label->minutes), static_cast<long long>(label->seconds), ":",
                static_cast<long long>(label->frames));
  Settings moved = settings_;
  moved.generatorStart = start;
  setSettings(moved);
  log("Generator located to " + label->text(rate == FrameRate::fps29_97DF));
  return true;
}

// ---- Shutdown ----

void TimecodeStore::shutdown() {
  if (runningMTCOut_) stopMTCOutput();
  stopArtNet();
  if (runningLTCOut_) {
    if (engine_) engine_->ltcOutput.stop();
    runningLTCOut_.reset();
  }
  if (runningInput_) {
    if (engine_) engine_->ltcInput.stop();
    runningInput_.reset();
  }
  save();
}

}  // namespace quillmark
