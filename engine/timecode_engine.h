#pragma once
// TimecodeEngine joins everything that carries time. It owns the MIDI client with its ports, the LTC audio
// input and output, the MTC sender and the Art-Net timecode receiver and sender; it takes the decoded LTC
// frames, MTC events and Art-Net packets they deliver, keeps those of the selected source and feeds the
// clock (all of which TimecodeEngineCore does), and installs one clock function on every output, so all
// read time in one form only: a ClockSnapshot.
//
// Ownership and lifetime: the reception state lives in a shared TimecodeEngineCore that every callback
// holds weakly: a late frame, event or output cycle after the engine is gone does nothing, and the clock
// function then returns the idle snapshot on which the outputs stay silent. The JACK objects are declared
// after the core and so are torn down (their threads stopped) before the engine lets go of it; no callback
// can therefore be the one to destroy the core, let alone a JACK client, on a real-time thread.
//
// Threads: construct, destroy and drive (source, rateOverride, mtcSourceName, the clock's freewheel and
// pulldown settings, the generator, resetInput, start and stop of the inputs and outputs) on the main
// thread. The shared values, snapshot() and stats() follow the rules of TimecodeEngineCore.

#include <functional>
#include <memory>

#include "audio/ltc_input.h"
#include "audio/ltc_output.h"
#include "engine/timecode_engine_core.h"
#include "midi/midi_ports.h"
#include "midi/mtc_output.h"
#include "net/artnet_input.h"
#include "net/artnet_output.h"

namespace quillmark {

class JackDevices;

class TimecodeEngine {
 public:
  using Counters = TimecodeEngineCore::Counters;

  // Creates the MIDI client, the LTC input and output and the MTC sender and wires their callbacks. The
  // LTC input and output bind to devices as `devices` lists them, and every JACK object of the engine is
  // named and posts its notices through the monitor's context; the monitor must outlive the engine. Works
  // without a JACK server: MIDI then stays unusable and starting audio throws, as those objects define.
  explicit TimecodeEngine(JackDevices& devices);
  ~TimecodeEngine();
  TimecodeEngine(const TimecodeEngine&) = delete;
  TimecodeEngine& operator=(const TimecodeEngine&) = delete;

 private:
  // Declared first so that it is destroyed last; see the top comment.
  std::shared_ptr<TimecodeEngineCore> core_;

 public:
  // The shared values, by the names the store and the status refresh use.
  std::atomic<SourceKind>& source;
  std::atomic<std::optional<FrameRate>>& rateOverride;
  LockedText& mtcSourceName;
  TimecodeEngineCore::ClockAccess& clock;
  Locked<Generator>& generator;
  LockedView<std::optional<ReceivedFrame>>& lastReceived;
  LockedView<Counters>& counters;
  LockedView<LTCRateDetector>& detector;

  std::shared_ptr<MIDIPorts> ports;
  LTCInput ltcInput;
  LTCOutput ltcOutput;

  // The Art-Net timecode receiver, wired to the core; started and stopped by the owner. Its receive thread
  // is stopped (by its destructor) before the core can go.
  ArtNetInput artnetInput;
  // The Art-Net timecode sender, following the same clock as the other outputs.
  ArtNetOutput artnetOutput;

  // The MTC sender, made with the engine and its clock installed; stopped until started.
  MTCOutput& mtcOutput() noexcept { return mtcOutput_; }

  static bool debug() { return TimecodeEngineCore::debug(); }
  ClockSnapshot snapshot(double at) noexcept { return core_->snapshot(at); }
  ReceptionStats stats() const noexcept { return core_->stats(); }
  void resetInput() noexcept { core_->resetInput(); }

  // The function installed as every output's clock: snapshot(HostTime::now()), or the idle snapshot once
  // the engine is gone. Safe on real-time threads.
  std::function<ClockSnapshot()> clockFunction() const;

  TimecodeEngineCore& core() noexcept { return *core_; }

 private:
  MTCOutput mtcOutput_;  // declared last: its thread stops first
};

}  // namespace quillmark
