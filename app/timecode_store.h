#pragma once
// TimecodeStore is the application's one state object. It owns the TimecodeEngine, holds the current
// Settings and DisplayStyle and persists them, keeps the audio device and MIDI port lists (DeviceLists),
// and has StreamControl start, restart and stop the LTC input, the LTC output, the MTC output and the
// Art-Net input and output so that what runs always matches the settings. It drives the generator's
// transport, reacts to device, configuration and JACK server changes, refreshes the published status thirty
// times a second and keeps the event log. On JACK every program with audio ports is a device, so a change of
// the graph restarts only an input or output whose connection it touched; everything else runs on untouched.
//
// Every published field has a signal that is emitted on every assignment, changed or not; observers
// re-read the field then. Callbacks from the audio and MIDI layers arrive through the poster the store
// hands them (in the JackContext of its device monitor), which queues them on the main thread, and the
// store queues its own work from them once more, so they run after the main-thread work in hand. Every
// callback it hands out is bound to the store's lifetime. The store owns everything it builds on JACK (the
// device monitor, the engine, the server watch), so several stores live side by side in one process
// (tests), each with its own profile, clients, notices and state.
//
// A JACK server that goes away is treated like an unplugged device: the inputs and outputs stop, the store
// tries to reach a server again every two seconds without blocking, and when one is back it rebuilds the
// engine's JACK objects and starts again whatever the settings ask for.
//
// Threads: main thread only (the thread of the QCoreApplication, which must exist before the store).

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/detail_status.h"
#include "app/device_lists.h"
#include "app/display_style.h"
#include "app/live_status.h"
#include "app/log_event.h"
#include "app/settings.h"
#include "app/status.h"
#include "app/status_builder.h"
#include "app/stream_control.h"
#include "audio/audio_device.h"
#include "audio/jack_devices.h"
#include "audio/ltc_output.h"
#include "core/timecode_clock.h"
#include "engine/timecode_engine.h"
#include "jack/main_thread.h"
#include "midi/midi_port.h"

namespace quillmark {

class JackServerWatch;
class Persistence;

class TimecodeStore : public QObject {
  Q_OBJECT
 public:
  using RunningInput = StreamControl::RunningInput;
  using RunningLTCOut = StreamControl::RunningLTCOut;
  using RunningArtNetIn = StreamControl::RunningArtNetIn;
  using RunningArtNetOut = StreamControl::RunningArtNetOut;

  // The most lines the event log keeps; older ones fall off the end.
  static constexpr std::size_t kLogLimit = 200;
  // Refresh ticks per second.
  static constexpr int kTicksPerSecond = 30;
  // How often the store tries to reach a JACK server while none is reachable, in milliseconds.
  static constexpr int kServerRetryMilliseconds = 2000;

  // Builds the store on the user's settings of `profile` (from "--profile NAME" on the command line; none
  // without one) and starts everything the stored settings ask for.
  explicit TimecodeStore(const std::optional<std::string>& profile, QObject* parent = nullptr);
  // The same with a given persistence (tests, tools); the profile is the persistence's.
  explicit TimecodeStore(std::unique_ptr<Persistence> persistence, QObject* parent = nullptr);
  ~TimecodeStore() override;
  TimecodeStore(const TimecodeStore&) = delete;
  TimecodeStore& operator=(const TimecodeStore&) = delete;

  // The profile the store was built for; none without one.
  const std::optional<std::string>& profile() const noexcept;

  // The current settings. Assigning publishes; an assignment equal to the current value ends there,
  // otherwise the record is saved and then applied to the engine and the devices.
  const Settings& settings() const noexcept { return settings_; }
  void setSettings(const Settings& settings);

  // The display window's style; every assignment publishes and saves it.
  const DisplayStyle& displayStyle() const noexcept { return displayStyle_; }
  void setDisplayStyle(const DisplayStyle& style);

  // Replaced only when state, rate, held, generatorRunning or reverse change.
  const Status& status() const noexcept { return status_; }
  // Replaced on every change of the status.
  LiveStatus& live() noexcept { return *live_; }
  // Replaced twice a second and on every coarse change.
  DetailStatus& details() noexcept { return *details_; }
  std::int64_t ticks() const noexcept { return ticks_; }

  const std::vector<AudioDevice>& inputDevices() const noexcept { return lists_.inputDevices; }
  const std::vector<AudioDevice>& outputDevices() const noexcept { return lists_.outputDevices; }
  const std::vector<MIDIPort>& midiSources() const noexcept { return lists_.midiSources; }
  const std::vector<MIDIPort>& midiDestinations() const noexcept { return lists_.midiDestinations; }
  const std::optional<std::string>& inputError() const noexcept { return streams_->inputError(); }
  const std::optional<std::string>& outputError() const noexcept { return streams_->outputError(); }
  // Why the Art-Net output cannot start, or why its latest packet could not be sent (it keeps trying
  // every frame, and the error clears when a packet goes out); none while it is off or sending. The Art-Net
  // input's errors are the input error, like the LTC input's.
  const std::optional<std::string>& artnetOutError() const noexcept { return streams_->artnetOutError(); }

  // The event log, newest first, at most kLogLimit lines. The log view may replace it (to empty it).
  const std::vector<LogEvent>& log() const noexcept { return log_; }
  void setLog(std::vector<LogEvent> log);
  // Adds a line at the front, dropping the oldest beyond kLogLimit.
  void log(std::string text);

  // The listed device whose uid the settings name; none when none is stored or it is not connected.
  std::optional<AudioDevice> selectedInput() const;
  std::optional<AudioDevice> selectedOutput() const;

  // Generator transport; each logs its line, also when it changes nothing.
  void play();
  void stop();
  // Moves the generator to a typed label valid at the generator rate and stores it as the start label.
  // False, and nothing changed or logged, when the text does not parse or is not valid at that rate.
  bool locate(std::string_view text);

  // Re-reads the device and port lists and fills in a missing input or output device; a choice filled in
  // is saved and applied. True when a list changed.
  bool refreshDevices();

  // Whether a JACK server was reachable at the latest check.
  bool jackServerReachable() const noexcept;

  // What the store records as started; none when stopped or failed.
  const std::optional<RunningInput>& runningInput() const noexcept { return streams_->runningInput(); }
  const std::optional<RunningLTCOut>& runningLTCOut() const noexcept { return streams_->runningLTCOut(); }
  const std::optional<std::string>& runningMTCOut() const noexcept { return streams_->runningMTCOut(); }
  const std::optional<RunningArtNetIn>& runningArtNetIn() const noexcept {
    return streams_->runningArtNetIn();
  }
  const std::optional<RunningArtNetOut>& runningArtNetOut() const noexcept {
    return streams_->runningArtNetOut();
  }

  // The engine with its JACK clients; none while a JACK server that went away has not come back (its
  // clients are closed at once, see JackServerWatch). A new one is built when a server is reachable again.
  TimecodeEngine* engine() noexcept { return engine_.get(); }
  // The engine's time-keeping half (source, clock, generator, counters): the engine's own, or while there
  // is no engine the one that stands in for it, so the generator and the settings keep working.
  TimecodeEngineCore& core() noexcept { return engine_ ? engine_->core() : *offlineCore_; }

  // The name other programs see Quillmark's MIDI ports under: the name JACK gave the engine's MIDI
  // client, or the one it asks for while there is no engine or no server.
  std::string midiClientName() const;

  // Orderly end: stops the outputs and the input and saves the settings. The store stays usable.
  void shutdown();

 signals:
  void settingsChanged(const quillmark::Settings& settings);
  void displayStyleChanged(const quillmark::DisplayStyle& style);
  void statusChanged(const quillmark::Status& status);
  void inputDevicesChanged();
  void outputDevicesChanged();
  void midiSourcesChanged();
  void midiDestinationsChanged();
  void inputErrorChanged();
  void outputErrorChanged();
  void artnetOutErrorChanged();
  void logChanged();

 private:
  void save();
  // Pushes the settings into the engine, logs an input change (when `changedFrom` differs in what the
  // input listens to) and moves every stream toward the settings.
  void apply(const std::optional<Settings>& changedFrom);
  // Fills in a missing input or output device choice, publishing each assignment; true when it changed
  // the settings (the caller saves and applies them).
  bool fillMissingDevices();
  void restartAudio(const std::string& reason);
  // A change of the JACK graph: the lists follow, and only what it cut off restarts (logged then).
  void onDevicesChanged();
  void onMIDIPortsChanged();
  // Logs "<reason>", with ": " and the input error or else the output error when there is one.
  void logAudioChange(const std::string& reason);
  void refresh();
  void logTransitions(const Status& status);
  void publish(const Status& status);

  // A new engine on the reachable server, its notices wired to the store.
  std::unique_ptr<TimecodeEngine> makeEngine();
  // Lets go of the engine and of every record of what ran on it.
  void releaseEngine();
  void onServerLost();
  void onServerFound();
  // Confirms that the JACK server the engine's clients live on still answers, and handles its loss first
  // when it does not. Runs before every notice from the audio and MIDI layers.
  void checkJackServer();
  // The poster handed to the audio and MIDI layers: it queues each notice on the main thread, where the
  // store confirms the server before the notice's own work runs.
  MainThreadPoster mainThreadPoster();
  // Runs `work` as a new task on the main thread, unless the store is gone by then.
  template <class F>
  void later(F&& work);

  std::unique_ptr<Persistence> persistence_;
  // Declared before the engine: the engine's input and output are built on it, and go first.
  std::unique_ptr<JackDevices> devices_;
  JackDevices::ObserverID devicesObserver_ = 0;
  Settings settings_;
  DisplayStyle displayStyle_;
  Status status_;
  LiveStatus* live_;       // child of the store
  DetailStatus* details_;  // child of the store
  std::int64_t ticks_ = 0;
  DeviceLists lists_;
  StreamControl* streams_;  // child of the store
  std::vector<LogEvent> log_;
  std::unique_ptr<TimecodeEngine> engine_;
  std::unique_ptr<TimecodeEngineCore> offlineCore_;  // only while engine_ is none
  QTimer* timer_ = nullptr;                          // child of the store; none until the end of construction
  StatusTransitions transitions_;                    // lastState and lastJumps of the previous refresh
  std::size_t unheardMIDISources_ = 0;               // as last logged
  JackServerWatch* serverWatch_ = nullptr;           // child of the store
};

}  // namespace quillmark
