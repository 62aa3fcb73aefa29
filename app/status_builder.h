#pragma once
// The two pure halves of the store's status refresh, kept apart from the store so they can be driven with
// made-up host times: building one Status from the engine's boxes at one instant, and turning the change
// from the previous refresh into event-log lines (lock, jump, input lost, stopped).
// Threads: main thread (the store's refresh). Only readEngine takes the engine's locks, one at a time, each
// for a copy of plain values; building the status (which allocates its text) holds none.

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "app/settings.h"
#include "app/status.h"
#include "engine/timecode_engine_core.h"

namespace quillmark {

// The input's statistics, read by the caller: the LTC input's level and bit errors, or the Art-Net
// input's damaged packets as its errors.
struct InputStats {
  float level = 0;
  std::int64_t errors = 0;
};

// What the refresh reads from the engine at one instant: the part of the refresh that takes the locks the
// receiving and output threads take. Plain values only, each copied under its own lock, so that no lock is
// held for an allocation or for anything longer than the copy.
struct EngineReading {
  ClockSnapshot snapshot;
  ReceptionStats stats;
  bool generatorRunning = false;
};
static_assert(std::is_trivially_copyable_v<EngineReading>, "copied under locks real-time threads take");

// The engine's snapshot at host second `now`, its published reception stats and the generator's flag.
EngineReading readEngine(TimecodeEngineCore& engine, double now) noexcept;

// The status at host second `now` from what was read from the engine at that instant.
Status buildStatus(const EngineReading& reading, const Settings& settings, double now, InputStats input);
inline Status buildStatus(TimecodeEngineCore& engine, const Settings& settings, double now,
                          InputStats input) {
  return buildStatus(readEngine(engine, now), settings, now, input);
}

// The label a position shows: the whole frame after adding a millionth of a frame, so that a position a
// rounding error short of a frame boundary shows the frame it belongs to. None for a position that is not
// finite or is beyond what a frame count holds.
std::optional<Timecode> labelAt(double position, FrameRate rate);

// Remembers what the previous refresh saw, to log what changed since.
struct StatusTransitions {
  TimecodeClock::State lastState = TimecodeClock::State::stopped;
  std::int64_t lastJumps = 0;
  std::optional<FrameRate> lastRate;  // the rate shown at the previous refresh
  // The latest label a status showed, for a "Stopped at" line whose status has none any more (the JACK
  // server went away with the clock that held it).
  std::string lastLabel;

  // The lines for the change to `status`, in log order (a jump before a state change of the same tick).
  // The rate of a locked input is logged when it locks and again, as "Rate: ...", whenever the rate shown
  // changes while it stays locked (pulldown found half a second after the lock, or a new rate).
  // The generator never produces lines; its state is only remembered.
  std::vector<std::string> next(const Status& status, SourceKind source);
};

}  // namespace quillmark
