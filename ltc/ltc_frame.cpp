#include "ltc/ltc_frame.h"

#include <bit>

namespace quillmark {
namespace {

// Bit positions that move between the two layouts. In the 25 fps layout the polarity-correction bit and
// binary group flag 2 trade places with flag 0 and the polarity bit of every other rate.
struct Layout {
  int flag0;
  int flag2;
  int polarity;
};
constexpr Layout kLayout25{27, 43, 59};
constexpr Layout kLayoutOther{43, 59, 27};
constexpr int kFlag1Bit = 58;
constexpr int kDropFrameBit = 10;
constexpr int kColorFrameBit = 11;

constexpr Layout layout(bool is25) noexcept {
  return is25 ? kLayout25 : kLayoutOther;
}

constexpr std::uint64_t field(std::uint64_t word, int at, int width) noexcept {
  return (word >> at) & ((std::uint64_t{1} << width) - 1);
}

constexpr int userGroupBit(int k) noexcept {
  return 4 + 8 * k;  // groups 1..8 (k = 0..7) start at bits 4, 12, 20, ..., 60
}

}  // namespace

void LTCFrame::put(std::uint64_t& word, std::uint64_t value, int at, int width) noexcept {
  word |= (value & ((std::uint64_t{1} << width) - 1)) << at;
}

std::uint64_t LTCFrame::dataBits(bool is25) const noexcept {
  // The Timecode invariant keeps fields non-negative here; converting through unsigned keeps even a
  // hand-built negative field well defined (it is simply masked).
  const auto u = [](std::int64_t v) { return static_cast<std::uint64_t>(v); };
  std::uint64_t word = 0;
  put(word, u(timecode.frames) % 10, 0, 4);
  put(word, u(timecode.frames) / 10, 8, 2);
  put(word, u(timecode.seconds) % 10, 16, 4);
  put(word, u(timecode.seconds) / 10, 24, 3);
  put(word, u(timecode.minutes) % 10, 32, 4);
  put(word, u(timecode.minutes) / 10, 40, 3);
  put(word, u(timecode.hours) % 10, 48, 4);
  put(word, u(timecode.hours) / 10, 56, 2);
  for (int k = 0; k < 8; ++k) put(word, (userBits >> (4 * k)) & 15u, userGroupBit(k), 4);
  if (dropFrame) put(word, 1, kDropFrameBit, 1);
  if (colorFrame) put(word, 1, kColorFrameBit, 1);

  const Layout l = layout(is25);
  if (binaryGroupFlags & 1u) put(word, 1, l.flag0, 1);
  if (binaryGroupFlags & 2u) put(word, 1, kFlag1Bit, 1);
  if (binaryGroupFlags & 4u) put(word, 1, l.flag2, 1);

  // An odd count of data ones plus the 13 of the sync word gives every 80-bit frame an even number of
  // transitions, so every frame starts with the same signal polarity.
  if (std::popcount(word) % 2 == 0) put(word, 1, l.polarity, 1);
  return word;
}

LTCFrame LTCFrame::fromData(std::uint64_t data, bool is25) noexcept {
  const std::uint64_t frameUnits = field(data, 0, 4), frameTens = field(data, 8, 2);
  const std::uint64_t secondUnits = field(data, 16, 4), secondTens = field(data, 24, 3);
  const std::uint64_t minuteUnits = field(data, 32, 4), minuteTens = field(data, 40, 3);
  const std::uint64_t hourUnits = field(data, 48, 4), hourTens = field(data, 56, 2);

  LTCFrame frame;
  frame.timecode = Timecode{static_cast<std::int64_t>(hourUnits + 10 * hourTens),
                            static_cast<std::int64_t>(minuteUnits + 10 * minuteTens),
                            static_cast<std::int64_t>(secondUnits + 10 * secondTens),
                            static_cast<std::int64_t>(frameUnits + 10 * frameTens)};
  for (int k = 0; k < 8; ++k) {
    frame.userBits |= static_cast<std::uint32_t>(field(data, userGroupBit(k), 4)) << (4 * k);
  }
  frame.dropFrame = field(data, kDropFrameBit, 1) != 0;
  frame.colorFrame = field(data, kColorFrameBit, 1) != 0;
  const Layout l = layout(is25);
  frame.binaryGroupFlags = static_cast<std::uint8_t>(
      field(data, l.flag0, 1) | field(data, kFlag1Bit, 1) << 1 | field(data, l.flag2, 1) << 2);
  // Frames up to 29 pass: the word is not checked against any rate.
  frame.hasValidDigits = frameUnits <= 9 && frameTens <= 2 && secondUnits <= 9 && secondTens <= 5 &&
                         minuteUnits <= 9 && minuteTens <= 5 && hourUnits <= 9 &&
                         hourTens * 10 + hourUnits <= 23;
  return frame;
}

}  // namespace quillmark
