// Feeds arbitrary datagrams to the ArtTimeCode parser, as the Art-Net input receives them from anyone on
// the network, and checks what the engine relies on: a parsed packet carries a label that exists at its
// rate, and its fields are the packet's own bytes (building the parsed value again gives the same fields
// and parses to the same value).
//
// Session layout, repeated until the input ends: two bytes datagram length (modulo 700, so that oversized
// datagrams occur), then the datagram's bytes.

#include <algorithm>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_input.h"
#include "midi/artnet_timecode.h"

using namespace quillmark;
using namespace quillmark::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  while (!input.empty()) {
    const std::size_t length = input.take<std::uint16_t>() % 700;
    const std::span<const std::uint8_t> datagram = input.bytes(length);
    const auto received = ArtNet::parseTimeCode(datagram);
    if (!received) continue;
    FUZZ_CHECK(datagram.size() >= ArtNet::kTimeCodeSize && datagram.size() <= ArtNet::kMaxPacketSize);
    FUZZ_CHECK(received->timecode.isValid(received->rate));
    const ArtNet::TimeCodePacket again =
        ArtNet::timeCode(received->timecode, received->rate, received->streamId);
    FUZZ_CHECK(std::equal(again.begin() + 13, again.end() - 1, datagram.begin() + 13));
    FUZZ_CHECK(ArtNet::parseTimeCode(again) == received);
  }
  return 0;
}
