#include "app/timecode_store.h"

#include <QMetaObject>
#include <QPointer>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/jack_server_watch.h"
#include "app/persistence.h"
#include "core/host_time.h"
#include "core/timecode.h"
#include "jack/jack_context.h"

namespace quillmark {
namespace {

constexpr const char* kNoServerLine = "No JACK server reachable: trying again every 2 seconds";

}  // namespace

// Hands the audio and MIDI layers' notices to the main thread's event loop, with the store as the context:
// everything that posts is owned by the store and closed before it goes, and a notice still queued then
// is dropped with it. Each notice first lets the store confirm the server: when it died, the store closes
// its clients before the notice's own work can open a new one (which would make libjack free them under
// their owners). Called from JACK's notification threads: `this` is only handed to Qt, which queues.
MainThreadPoster TimecodeStore::mainThreadPoster() {
  return [this](MainThreadTask task) {
    QMetaObject::invokeMethod(
        this,
        [this, task = std::move(task)] {
          checkJackServer();
          task();
        },
        Qt::QueuedConnection);
  };
}

TimecodeStore::TimecodeStore(const std::optional<std::string>& profile, QObject* parent)
    : TimecodeStore(std::make_unique<Persistence>(profile), parent) {}

TimecodeStore::TimecodeStore(std::unique_ptr<Persistence> persistence, QObject* parent)
    : QObject(parent),
      persistence_(std::move(persistence)),
      live_(new LiveStatus(this)),
      details_(new DetailStatus(this)),
      streams_(new StreamControl(this)) {
  connect(streams_, &StreamControl::inputErrorChanged, this, &TimecodeStore::inputErrorChanged);
  connect(streams_, &StreamControl::outputErrorChanged, this, &TimecodeStore::outputErrorChanged);
  connect(streams_, &StreamControl::artnetOutErrorChanged, this, &TimecodeStore::artnetOutErrorChanged);
  devices_ = std::make_unique<JackDevices>(JackContext::forProfile(profile(), mainThreadPoster()));
  // Before the engine, so that a missing server is known (and its complaints quieted) from the start.
  serverWatch_ = new JackServerWatch(kServerRetryMilliseconds, devices_->context().clientName("watch"), this);
  engine_ = makeEngine();

  settings_ = persistence_->loadSettings();
  displayStyle_ = persistence_->loadDisplayStyle();

  refreshDevices();

  {
    const double now = HostTime::now();
    const Settings& s = settings_;
    engine_->generator.update([&](Generator& g) {
      g = Generator::fromSettings(s.generatorRate, s.timeOfDay, s.generatorStart, now);
    });
  }

  const QPointer<TimecodeStore> self(this);
  devicesObserver_ = devices_->observe([self] {
    if (!self) return;
    self->later([store = self.data()] { store->onDevicesChanged(); });
  });

  apply(std::nullopt);

  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  timer_->setInterval(1000 / kTicksPerSecond);
  // Already on the main thread, after the work in hand: the tick runs the refresh in place.
  connect(timer_, &QTimer::timeout, this, &TimecodeStore::refresh);
  timer_->start();

  connect(serverWatch_, &JackServerWatch::serverLost, this, &TimecodeStore::onServerLost);
  connect(serverWatch_, &JackServerWatch::serverFound, this, &TimecodeStore::onServerFound);
  if (!serverWatch_->isReachable()) log(kNoServerLine);
}

TimecodeStore::~TimecodeStore() {
  // The engine goes first: its threads and JACK clients stop before the rest of the store is torn down.
  streams_->setEngine(nullptr);
  engine_.reset();
  // Then the device monitor, whose client is the last to post to the store.
  devices_->removeObserver(devicesObserver_);
  devices_.reset();
}

template <class F>
void TimecodeStore::later(F&& work) {
  QMetaObject::invokeMethod(this, std::forward<F>(work), Qt::QueuedConnection);
}

const std::optional<std::string>& TimecodeStore::profile() const noexcept {
  return persistence_->profile();
}

std::string TimecodeStore::midiClientName() const {
  if (engine_ && engine_->ports && !engine_->ports->clientName().empty()) return engine_->ports->clientName();
  return devices_->context().clientName({});  // the name the client gets once a server appears
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

std::optional<AudioDevice> TimecodeStore::selectedInput() const {
  return lists_.inputWithUID(settings_.ltcInputUID);
}

std::optional<AudioDevice> TimecodeStore::selectedOutput() const {
  return lists_.outputWithUID(settings_.ltcOutUID);
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

  streams_->applyLTCInput(s, selectedInput());
  streams_->applyArtNetInput(s);
  streams_->applyOutputs(s, selectedOutput(), lists_.midiDestinations);
  streams_->applyArtNetOutput(s);
}

// ---- Devices ----

bool TimecodeStore::refreshDevices() {
  // Every graph change comes here, most of them changing no list: the windows hear of real changes only.
  const DeviceLists::Changes changes = lists_.refresh(*devices_, engine_.get());
  if (changes.inputs) emit inputDevicesChanged();
  if (changes.outputs) emit outputDevicesChanged();
  if (changes.sources) emit midiSourcesChanged();
  if (changes.destinations) emit midiDestinationsChanged();
  // A choice filled in is saved and applied like one the user made (it changes only a device, so no input
  // line is logged), once for both.
  if (fillMissingDevices()) {
    save();
    apply(std::nullopt);
  }
  return changes.any();
}

bool TimecodeStore::fillMissingDevices() {
  // Each missing choice is an assignment of the settings, published whether or not it finds a device.
  const Settings before = settings_;
  if (!settings_.ltcInputUID) {
    settings_.ltcInputUID = lists_.defaultInputUID(*devices_);
    emit settingsChanged(settings_);
  }
  if (!settings_.ltcOutUID) {
    settings_.ltcOutUID = lists_.defaultOutputUID(*devices_);
    emit settingsChanged(settings_);
  }
  return settings_ != before;
}

void TimecodeStore::logAudioChange(const std::string& reason) {
  if (inputError()) {
    log(reason + ": " + *inputError());
  } else if (outputError()) {
    log(reason + ": " + *outputError());
  } else {
    log(reason);
  }
}

void TimecodeStore::restartAudio(const std::string& reason) {
  refreshDevices();
  streams_->stopLTCInput();
  streams_->stopLTCOutput();
  apply(std::nullopt);
  logAudioChange(reason);
}

void TimecodeStore::onDevicesChanged() {
  const bool listsChanged = refreshDevices();
  bool restarted = false;
  // Restarted only when the graph change cut what it reads or plays: its device left or came back, or the
  // port its channel maps to is another one now.
  if (runningInput() && !streams_->ltcInputHolds(settings_, selectedInput(), *devices_)) {
    streams_->stopLTCInput();
    restarted = true;
  }
  if (runningLTCOut() && !streams_->ltcOutputHolds(settings_, selectedOutput(), *devices_)) {
    streams_->stopLTCOutput();
    restarted = true;
  }
  // With the lists as they were and nothing cut off there is nothing to start either. An input or output
  // that failed to start is tried again when the lists change, not on every notice: the attempt itself
  // opens and closes a client, which would bring the next notice.
  if (!restarted && !listsChanged) return;
  const auto inputBefore = runningInput();
  const auto outputBefore = runningLTCOut();
  const auto inputErrorBefore = inputError();
  const auto outputErrorBefore = outputError();
  apply(std::nullopt);
  if (!restarted && inputBefore == runningInput() && outputBefore == runningLTCOut() &&
      inputErrorBefore == inputError() && outputErrorBefore == outputError()) {
    return;  // nothing of ours was touched: nothing to say
  }
  logAudioChange("Audio devices changed");
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

// ---- The engine and the JACK server ----

std::unique_ptr<TimecodeEngine> TimecodeStore::makeEngine() {
  auto engine = std::make_unique<TimecodeEngine>(*devices_);
  const QPointer<TimecodeStore> self(this);
  engine->ports->setOnPortsChanged([self] {
    if (!self) return;
    self->later([store = self.data()] { store->onMIDIPortsChanged(); });
  });
  engine->ltcInput.onConfigurationChange = [self] {
    if (!self) return;
    self->later([store = self.data()] { store->restartAudio("Audio input changed"); });
  };
  engine->ltcOutput.onConfigurationChange = [self] {
    if (!self) return;
    self->later([store = self.data()] { store->restartAudio("Audio output changed"); });
  };
  streams_->setEngine(engine.get());
  return engine;
}

void TimecodeStore::releaseEngine() {
  streams_->forgetAll();
  streams_->setEngine(nullptr);
  engine_.reset();
}

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
  releaseEngine();
  offlineCore_ = std::move(standIn);
  // Like unplugging every device at once: what ran is stopped and the errors say why.
  restartAudio("JACK server stopped");
  log(kNoServerLine);
}

void TimecodeStore::onServerFound() {
  // The engine's MIDI client and outputs are made afresh on this server. The generator's transport
  // carries over, so a running generator keeps running.
  const Generator generator = core().generator.read();
  releaseEngine();
  engine_ = makeEngine();
  offlineCore_.reset();
  engine_->generator.withLock([&](Generator& g) { g = generator; });
  restartAudio("JACK server started");
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
  streams_->stopMTCOutput();
  streams_->stopArtNet();
  streams_->stopLTCOutput();
  streams_->stopLTCInput();
  save();
}

}  // namespace quillmark
