#include "midi/mtc_decoder.h"

#include <algorithm>

#include "midi/mtc.h"

namespace quillmark {
namespace {

constexpr bool isStatus(std::uint8_t byte) noexcept {
  return byte >= 0x80;
}

// Timing clock, start, continue, stop, active sensing, reset: they may appear anywhere, even between a
// status byte and its data, and belong to no message.
constexpr bool isSystemRealTime(std::uint8_t byte) noexcept {
  return byte >= 0xF8;
}

}  // namespace

std::vector<MTCDecoder::Event> MTCDecoder::feed(std::span<const std::uint8_t> bytes, double time) {
  std::vector<Event> events;
  feed(bytes, time, [&events](const Event& event) { events.push_back(event); });
  return events;
}

std::optional<MTCDecoder::Event> MTCDecoder::step(std::uint8_t byte, double time) noexcept {
  if (isSystemRealTime(byte)) return std::nullopt;

  if (sysex) {
    if (byte == MTC::kSysExEnd) {
      const SysExBody body = *sysex;
      sysex.reset();
      return fullFrame(body, time);
    }
    if (isStatus(byte)) {
      // A status byte cuts the message short. It is dropped rather than interpreted: a message that
      // arrives inside a broken one is not trusted.
      sysex.reset();
      return std::nullopt;
    }
    if (sysex->count == kMaxSysExBody) {
      // Too long to be anything we understand; the rest of it, 0xF7 included, is ignored as stray data.
      sysex.reset();
      return std::nullopt;
    }
    sysex->bytes[sysex->count++] = byte;
    return std::nullopt;
  }

  if (expectingQuarterFrameData) {
    expectingQuarterFrameData = false;
    if (isStatus(byte)) return std::nullopt;  // the quarter frame is lost, the status byte with it
    return quarterFrame(byte, time);
  }

  if (byte == MTC::kSysExStart) {
    sysex = SysExBody{};
  } else if (byte == MTC::kQuarterFrameStatus) {
    expectingQuarterFrameData = true;
  }
  // Channel messages, their data, running-status data and other system messages mean nothing here.
  return std::nullopt;
}

std::optional<MTCDecoder::Event> MTCDecoder::quarterFrame(std::uint8_t data, double time) noexcept {
  const int piece = data >> 4;
  const int nibble = data & 0x0F;

  // The run only has to tell "eight or more"; counting stops there, so months of unbroken code cannot
  // overflow it.
  const int longer = std::min(run + 1, kCompleteRun);
  if (!lastPiece) {
    run = 1;
  } else if (piece == (*lastPiece + 1) % 8) {
    run = reverse ? 1 : longer;
    reverse = false;
  } else if (piece == (*lastPiece + 7) % 8) {
    run = reverse ? longer : 1;
    reverse = true;
  } else {
    run = 1;  // a skipped or repeated piece breaks the run
  }
  lastPiece = piece;
  nibbles[piece] = nibble;
  times[piece] = time;

  // Eight in-order pieces ending on the group's last piece in the run's direction mean all eight nibbles
  // came from this run. The run is not reset afterwards, so every further group end completes another.
  const bool groupEnd = reverse ? piece == 0 : piece == 7;
  if (run < kCompleteRun || !groupEnd) return std::nullopt;

  const Timecode label{(nibbles[6]) | ((nibbles[7] & 1) << 4), ((nibbles[5] & 3) << 4) | nibbles[4],
                       ((nibbles[3] & 3) << 4) | nibbles[2], ((nibbles[1] & 1) << 4) | nibbles[0]};
  const FrameRate rate = MTC::rateFromCode((nibbles[7] >> 1) & 3);
  if (!label.isValid(rate)) return std::nullopt;
  return Event::sequence(label, rate, times, reverse);
}

std::optional<MTCDecoder::Event> MTCDecoder::fullFrame(const SysExBody& body, double time) const noexcept {
  // 7F <device> 01 01 hh mm ss ff: universal real-time, any device number, MIDI timecode, full message.
  const auto& b = body.bytes;
  if (body.count != 8 || b[0] != MTC::kUniversalRealTime || b[2] != MTC::kSubIDTimecode ||
      b[3] != MTC::kSubIDFullMessage) {
    return std::nullopt;
  }
  const FrameRate rate = MTC::rateFromCode((b[4] >> 5) & 3);
  const Timecode label{b[4] & 0x1F, b[5], b[6], b[7]};
  if (!label.isValid(rate)) return std::nullopt;
  return Event::fullFrame(label, rate, time);
}

}  // namespace quillmark
