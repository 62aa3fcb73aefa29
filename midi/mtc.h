#pragma once
// MTC: the two MIDI timecode messages Quillmark sends and understands, as pure builders. The quarter frame
// is 0xF1 plus one data byte (piece << 4 | nibble); the full frame is a 10-byte universal real-time
// system-exclusive message addressed to all devices. Both carry the frame rate as a 2-bit code, which
// cannot tell 23.976 from 24 or 29.97 non-drop from 30: the engine measures that difference instead.
// Threads: pure functions, safe anywhere; none allocates (messages are fixed-size arrays), so the MTC
// sender may build them on its real-time thread.

#include <array>
#include <cstdint>

#include "core/frame_rate.h"
#include "core/timecode.h"

namespace quillmark::MTC {

inline constexpr std::uint8_t kQuarterFrameStatus = 0xF1;
inline constexpr std::uint8_t kSysExStart = 0xF0;
inline constexpr std::uint8_t kSysExEnd = 0xF7;
inline constexpr std::uint8_t kUniversalRealTime = 0x7F;
inline constexpr std::uint8_t kAllCallDevice = 0x7F;
inline constexpr std::uint8_t kSubIDTimecode = 0x01;
inline constexpr std::uint8_t kSubIDFullMessage = 0x01;

using QuarterFrameMessage = std::array<std::uint8_t, 2>;
using FullFrameMessage = std::array<std::uint8_t, 10>;

// The 2-bit wire code of a rate: 0 for 23.976 and 24, 1 for 25, 2 for 29.97 DF, 3 for 29.97 ND and 30.
// Two rates with the same code are the same on the wire, so the sender compares codes, not rates, when it
// decides whether a rate change needs a new full frame.
constexpr int rateCode(FrameRate rate) noexcept {
  switch (rate) {
    case FrameRate::fps23_976:
    case FrameRate::fps24:
      return 0;
    case FrameRate::fps25:
      return 1;
    case FrameRate::fps29_97DF:
      return 2;
    case FrameRate::fps29_97ND:
    case FrameRate::fps30:
      return 3;
  }
  return 1;
}

// The rate a received code stands for: the non-pulldown rate of each ambiguous pair. Only the low two
// bits of `code` count.
constexpr FrameRate rateFromCode(int code) noexcept {
  switch (code & 3) {
    case 0:
      return FrameRate::fps24;
    case 1:
      return FrameRate::fps25;
    case 2:
      return FrameRate::fps29_97DF;
    default:
      return FrameRate::fps30;
  }
}

// The quarter frame for `index`, counted in quarter frames from frame 0 (index 4n starts frame n; negative
// indexes are allowed). The piece is index mod 8, and all eight pieces of a group carry the label of frame
// 2 * floor(index / 8), the frame at which the group's piece 0 is due, folded into one day.
QuarterFrameMessage quarterFrame(std::int64_t index, FrameRate rate) noexcept;

// The full-frame message for `timecode` at `rate`. REQUIRES: timecode.isValid(rate). An out-of-range
// field is masked to its field width (5 bits of hours, 7 bits otherwise) so that the message can never
// carry a byte with its top bit set, which a receiver would read as a status byte.
FullFrameMessage fullFrame(const Timecode& timecode, FrameRate rate) noexcept;

}  // namespace quillmark::MTC
