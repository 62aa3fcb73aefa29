#pragma once
// ReceptionStats: what the engine publishes about the code it receives, for the status refresh: the
// clock's rate and measurements, its counters, the last frame received and the engine's own counters.
// The engine brings it up to date inside the critical section of every reception, so the refresh reads
// it with one copy of plain values under the lock the receiving threads take, and never copies the
// clock (whose point window would allocate) or formats anything there.
// Threads: a plain, trivially copyable value, safe anywhere; nothing here allocates.

#include <cstdint>
#include <optional>
#include <type_traits>

#include "core/frame_rate.h"
#include "core/received_frame.h"
#include "engine/source_name.h"

namespace quillmark {

struct ReceptionStats {
  struct Counters {
    std::int64_t ltcFrames = 0;
    std::int64_t mtcSequences = 0;
    std::int64_t fullFrames = 0;
    std::int64_t artnetFrames = 0;  // ArtTimeCode packets taken
    SourceName mtcSource;           // the MIDI source of the latest MTC event taken

    bool operator==(const Counters&) const = default;
  };

  FrameRate clockRate = FrameRate::fps25;  // the rate the clock counts in, pulldown included
  std::optional<double> measuredRate;      // frames per second of the line, once it has 3 points
  std::optional<double> speed;             // the line's speed as a ratio to the nominal
  std::optional<double> jitter;            // seconds
  std::int64_t jumps = 0;
  std::int64_t rejected = 0;
  std::int64_t dropouts = 0;
  std::optional<ReceivedFrame> lastReceived;
  Counters counters;

  bool operator==(const ReceptionStats&) const = default;
};

static_assert(std::is_trivially_copyable_v<ReceptionStats>,
              "the status refresh copies the stats under the receiving threads' lock: plain values only");

}  // namespace quillmark
