#pragma once
// Status: what the displays show about the running time, built thirty times a second by the store's
// refresh from the engine's boxes: the label and its rate, the clock state, the measurements of the
// incoming code and the counters. The store hands it to its three observers at three paces (LiveStatus on
// every change, DetailStatus twice a second, the store's own `status` on coarse changes only).
// Threads: a plain value, copied freely and safe anywhere.

#include <cstdint>
#include <optional>
#include <string>

#include "core/frame_rate.h"
#include "core/timecode.h"
#include "core/timecode_clock.h"

namespace quillmark {

struct Status {
  std::optional<Timecode> timecode;  // the label to show
  std::optional<FrameRate> rate;     // rate of the shown label
  TimecodeClock::State state = TimecodeClock::State::stopped;
  bool held = false;                         // the label stands still: a parked generator, a stopped input
  std::optional<double> measuredRate;        // frames per second, slope of the clock's line
  std::optional<double> speed;               // measured speed as a ratio to the nominal
  std::optional<double> jitterMilliseconds;  // the clock's jitter
  float level = 0;                           // LTC input signal level
  std::optional<std::uint32_t> userBits;     // of the last LTC frame
  bool reverse = false;                      // the input runs backwards
  std::int64_t errors = 0;                   // LTC decoder errors, or damaged Art-Net packets
  std::int64_t jumps = 0;                    // jumps confirmed by the clock
  std::int64_t dropouts = 0;                 // dropouts counted by the clock
  std::int64_t ignored = 0;                  // frames the clock rejected
  std::int64_t framesIn = 0;                 // LTC frames, complete MTC sequences or Art-Net packets
  std::string mtcSource;                     // MIDI source of the last MTC
  bool generatorRunning = false;             // running, or following the time of day

  bool operator==(const Status&) const = default;

  // Whether the two differ in what the main window's form is built from: state, rate, held, whether the
  // generator runs and direction. Only such a change replaces the store's `status`.
  bool differsCoarselyFrom(const Status& other) const noexcept {
    return state != other.state || rate != other.rate || held != other.held ||
           generatorRunning != other.generatorRunning || reverse != other.reverse;
  }
};

// "stopped", "acquiring", "locked", "freewheel": for logs and tests; the views choose their own words.
const char* stateName(TimecodeClock::State state) noexcept;

}  // namespace quillmark
