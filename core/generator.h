#pragma once
// Generator is the internal timecode source: it runs from a start position the user sets (start, stop,
// locate, change rate) or, in time-of-day mode, follows the local wall clock. The engine asks it for a
// ClockSnapshot, so the outputs read it exactly as they read a clock fitted to received code.
//
// Time of day is the label a clock on the studio wall shows: local hours, minutes and seconds, counted
// in frames at the rate's real frames per second. On the day daylight-saving time begins or ends the
// code therefore jumps with the wall clock instead of drifting an hour away from it for the rest of the
// day. The wall clock and the local calendar are read in one place (readWallClock, replaceable through
// setWallClockSource) so tests can drive the mode with made-up instants.
// Threads: a plain value without locking of its own; the engine keeps it in a Locked box. Snapshots are
// taken from a copy on any thread; in start-position mode they never allocate. The store changes it on
// the main thread.

#include <optional>
#include <string_view>

#include "core/clock_snapshot.h"
#include "core/frame_rate.h"

namespace quillmark {

struct Generator {
  // A wall-clock reading and the host time taken right after it, so a host time can be placed on the
  // wall clock.
  struct WallClockReading {
    double wallSeconds = 0.0;  // seconds since 1970-01-01 00:00 UTC
    double hostSeconds = 0.0;  // HostTime::now() just after the wall clock was read
  };
  using WallClockSource = WallClockReading (*)() noexcept;

  FrameRate rate = FrameRate::fps25;
  bool timeOfDay = false;  // follow the wall clock instead of the start position
  bool isRunning = false;  // whether the start-position mode runs
  double position = 0.0;   // running: the position at startedAt; stopped: the parked position
  double startedAt = 0.0;  // host seconds at which position held

  // The generator as the settings describe it: the start text (parsed as typed labels are, no validity
  // check) gives the parked position, 01:00:00:00 when it does not parse. Not running.
  static Generator fromSettings(FrameRate rate, bool timeOfDay, std::string_view startText, double now);

  // What readers see at host time `at`: a locked line when running or in time of day, else no position
  // and the parked position for display.
  ClockSnapshot snapshot(double at) const noexcept;

  // Frames at host time `at`: the time of day, the running count, or the parked position.
  double runningPosition(double at) const noexcept;

  // Frames since local midnight at host time `at`, read from the current wall-clock source.
  static double timeOfDayPosition(double at, FrameRate rate) noexcept;
  // The same from a given reading; pure apart from the local time zone.
  static double timeOfDayPosition(double at, FrameRate rate, WallClockReading reading) noexcept;

  // Start continues from the parked position; stop parks at the running position. Each does nothing
  // when already in that state.
  void start(double now) noexcept;
  void stop(double now) noexcept;

  // Moves to a typed label, which must parse and be valid at `settingRate` (the user's generator rate);
  // false, and nothing changed, when it is refused. A running generator continues from the new label.
  bool locate(std::string_view text, FrameRate settingRate, double now);

  // Switches the rate keeping the label currently shown (its whole frame).
  void changeRate(FrameRate newRate, double now) noexcept;

  // The system's wall clock, then the host clock.
  static WallClockReading readWallClock() noexcept;
  // Replaces the wall-clock source for every generator; nullptr restores the system's.
  static void setWallClockSource(WallClockSource source) noexcept;
};

}  // namespace quillmark
