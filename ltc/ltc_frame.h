#pragma once
// LTCFrame: one SMPTE linear-timecode word in decoded form, and the only place that knows the bit layout of
// the 80-bit word. The encoder packs a frame into its 64 data bits and appends kSyncWord; the decoder
// unpacks 64 received data bits. Everything else sees only the fields.
// Threads: a plain value, safe anywhere; nothing here allocates.

#include <array>
#include <cstdint>

#include "core/timecode.h"

namespace quillmark {

// The sync word in transmission order (bit 64 first): 0 0 1 1 1 1 1 1 1 1 1 1 1 1 0 1. Thirteen ones.
inline constexpr std::array<std::uint8_t, 16> kSyncWord = {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};

struct LTCFrame {
  Timecode timecode;
  // Group k (1..8) is the nibble at bits 4(k-1) .. 4(k-1)+3 of this integer: group 1 is the lowest nibble.
  std::uint32_t userBits = 0;
  bool dropFrame = false;
  bool colorFrame = false;
  // Bit 0, 1, 2 = binary group flag 0, 1, 2; the other bits are always 0.
  std::uint8_t binaryGroupFlags = 0;
  // Set by decoding: every BCD digit is in range. A frame built by hand is taken to be valid.
  bool hasValidDigits = true;

  bool operator==(const LTCFrame&) const = default;

  // Packs the frame into data bits 0..63 (integer bit k is transmitted bit k), including the
  // polarity-correction bit that makes the number of ones odd. `is25` selects the 25 fps flag layout.
  // Tens digits wider than their field are cut by the field mask; normalised labels never are.
  std::uint64_t dataBits(bool is25) const noexcept;

  // Unpacks 64 data bits. Never fails: an out-of-range digit only clears hasValidDigits. The
  // polarity-correction bit is ignored and parity is not checked.
  static LTCFrame fromData(std::uint64_t data, bool is25) noexcept;

  // ORs `value`, masked to `width` bits, into `word` at bit position `at`.
  static void put(std::uint64_t& word, std::uint64_t value, int at, int width) noexcept;
};

}  // namespace quillmark
