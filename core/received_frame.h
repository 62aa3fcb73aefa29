#pragma once
// ReceivedFrame: the last frame the engine took from the selected input, as the status display shows it:
// the label, the rate to show it with, the LTC user bits, the direction and when it arrived.
// Threads: a plain value, safe anywhere; nothing here allocates. The engine keeps one in a Locked box.

#include <cstdint>
#include <optional>

#include "core/frame_rate.h"
#include "core/timecode.h"

namespace quillmark {

struct ReceivedFrame {
  Timecode timecode;                      // the label received, or the label at the end of an MTC sequence
  FrameRate rate = FrameRate::fps25;      // the rate to show it with
  std::optional<std::uint32_t> userBits;  // the LTC frame's user bits; none for MTC
  bool reverse = false;                   // whether the code was running backwards
  double time = 0.0;                      // host seconds at which it was received

  bool operator==(const ReceivedFrame&) const = default;
};

}  // namespace quillmark
