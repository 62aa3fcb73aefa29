#include "midi/artnet_timecode.h"

#include <algorithm>

#include "midi/mtc.h"

namespace quillmark::ArtNet {

namespace {

constexpr std::array<std::uint8_t, 8> kIdentifier = {'A', 'r', 't', '-', 'N', 'e', 't', 0};

// Byte offsets of the fields after the identifier.
constexpr std::size_t kOpCodeLow = 8;
constexpr std::size_t kOpCodeHigh = 9;
constexpr std::size_t kVersionHigh = 10;
constexpr std::size_t kVersionLow = 11;
constexpr std::size_t kStreamId = 13;
constexpr std::size_t kFrames = 14;
constexpr std::size_t kSeconds = 15;
constexpr std::size_t kMinutes = 16;
constexpr std::size_t kHours = 17;
constexpr std::size_t kType = 18;

std::uint8_t byteOf(std::int64_t value) noexcept {
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(value, 0, 255));
}

}  // namespace

TimeCodePacket timeCode(const Timecode& timecode, FrameRate rate, std::uint8_t streamId) noexcept {
  TimeCodePacket packet{};
  std::copy(kIdentifier.begin(), kIdentifier.end(), packet.begin());
  packet[kOpCodeLow] = kOpTimeCode & 0xFF;
  packet[kOpCodeHigh] = kOpTimeCode >> 8;
  packet[kVersionHigh] = 0;
  packet[kVersionLow] = kProtocolVersion;
  packet[kStreamId] = streamId;
  packet[kFrames] = byteOf(timecode.frames);
  packet[kSeconds] = byteOf(timecode.seconds);
  packet[kMinutes] = byteOf(timecode.minutes);
  packet[kHours] = byteOf(timecode.hours);
  packet[kType] = static_cast<std::uint8_t>(MTC::rateCode(rate));
  return packet;
}

std::optional<ReceivedTimeCode> parseTimeCode(std::span<const std::uint8_t> packet) noexcept {
  if (packet.size() < kTimeCodeSize || packet.size() > kMaxPacketSize) return std::nullopt;
  if (!std::equal(kIdentifier.begin(), kIdentifier.end(), packet.begin())) return std::nullopt;
  const unsigned opCode = packet[kOpCodeLow] | (packet[kOpCodeHigh] << 8);
  const unsigned version = (packet[kVersionHigh] << 8) | packet[kVersionLow];
  if (opCode != kOpTimeCode || version < kProtocolVersion || packet[kType] > 3) return std::nullopt;
  ReceivedTimeCode received;
  received.timecode = {packet[kHours], packet[kMinutes], packet[kSeconds], packet[kFrames]};
  received.rate = MTC::rateFromCode(packet[kType]);
  received.streamId = packet[kStreamId];
  if (!received.timecode.isValid(received.rate)) return std::nullopt;
  return received;
}

}  // namespace quillmark::ArtNet
