#pragma once
// ArtTimeCode: the Art-Net packet that carries timecode to lighting desks and media servers over UDP, as a
// pure builder and parser. The packet is 19 bytes: "Art-Net" and a zero byte, the OpCode 0x9700 low byte
// first, the protocol version high byte first (0, 14), a filler byte, the stream id, then frames, seconds,
// minutes, hours and the type. The type is the same 2-bit rate code MTC uses (0 film 24, 1 EBU 25,
// 2 drop-frame 29.97, 3 SMPTE 30), so 23.976 goes out as 24 and 29.97 non-drop as 30, and the engine
// measures the difference as it does for MTC.
// Threads: pure functions, safe anywhere; none allocates, so a sender or receiver thread may call them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/frame_rate.h"
#include "core/timecode.h"

namespace quillmark::ArtNet {

inline constexpr std::uint16_t kPort = 6454;
inline constexpr std::uint16_t kOpTimeCode = 0x9700;
inline constexpr std::uint8_t kProtocolVersion = 14;
inline constexpr std::size_t kTimeCodeSize = 19;
// Art-Net lets later protocol revisions append fields, so a receiver reads the fields it knows from a
// longer packet. Nothing in Art-Net is larger than an ArtDmx packet (530 bytes): a datagram beyond this
// is not Art-Net at all.
inline constexpr std::size_t kMaxPacketSize = 576;

using TimeCodePacket = std::array<std::uint8_t, kTimeCodeSize>;

// A parsed ArtTimeCode: a label that exists at its rate, and the sender's stream id.
struct ReceivedTimeCode {
  Timecode timecode;
  FrameRate rate = FrameRate::fps25;
  std::uint8_t streamId = 0;

  bool operator==(const ReceivedTimeCode&) const = default;
};

// The ArtTimeCode packet for `timecode` at `rate`. REQUIRES: timecode.isValid(rate); an out-of-range field
// is clamped into its byte's range rather than wrapped.
TimeCodePacket timeCode(const Timecode& timecode, FrameRate rate, std::uint8_t streamId = 0) noexcept;

// The label, rate and stream id of an ArtTimeCode packet; no value for anything else: a packet shorter
// than 19 bytes or longer than kMaxPacketSize, another identifier or OpCode, a protocol version older than
// 14, a type above 3, or a label that does not exist at its rate (frame 0 of a dropped minute at 29.97
// DF, hour 24, frame 25 at 25 fps).
std::optional<ReceivedTimeCode> parseTimeCode(std::span<const std::uint8_t> packet) noexcept;

}  // namespace quillmark::ArtNet
