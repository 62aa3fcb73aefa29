#include "midi/mtc.h"

namespace quillmark::MTC {

QuarterFrameMessage quarterFrame(std::int64_t index, FrameRate rate) noexcept {
  // Floor modulo, so that index -1 is piece 7 of the group that starts at index -8. index - piece is then
  // a multiple of 8 no smaller than INT64_MIN, so the subtraction cannot overflow.
  const std::int64_t piece = ((index % 8) + 8) % 8;
  const Timecode label = Timecode::fromFrame((index - piece) / 4, rate);
  std::int64_t nibble = 0;
  switch (piece) {
    case 0:
      nibble = label.frames & 0x0F;
      break;
    case 1:
      nibble = label.frames >> 4;
      break;
    case 2:
      nibble = label.seconds & 0x0F;
      break;
    case 3:
      nibble = label.seconds >> 4;
      break;
    case 4:
      nibble = label.minutes & 0x0F;
      break;
    case 5:
      nibble = label.minutes >> 4;
      break;
    case 6:
      nibble = label.hours & 0x0F;
      break;
    default:
      nibble = (rateCode(rate) << 1) | ((label.hours >> 4) & 1);
      break;
  }
  return {kQuarterFrameStatus, static_cast<std::uint8_t>((piece << 4) | (nibble & 0x0F))};
}

FullFrameMessage fullFrame(const Timecode& timecode, FrameRate rate) noexcept {
  const auto data7 = [](std::int64_t v) { return static_cast<std::uint8_t>(v & 0x7F); };
  return {kSysExStart,
          kUniversalRealTime,
          kAllCallDevice,
          kSubIDTimecode,
          kSubIDFullMessage,
          static_cast<std::uint8_t>((rateCode(rate) << 5) | (timecode.hours & 0x1F)),
          data7(timecode.minutes),
          data7(timecode.seconds),
          data7(timecode.frames),
          kSysExEnd};
}

}  // namespace quillmark::MTC
