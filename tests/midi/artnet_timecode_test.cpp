#include "midi/artnet_timecode.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillmark {
namespace {

// 01:02:03:04 at 25 fps, stream 0, as a lighting desk's packet capture shows it.
const std::vector<std::uint8_t> kPacket25 = {'A',  'r',  't',  '-',  'N',  'e',  't',  0x00, 0x00, 0x97,
                                             0x00, 0x0E, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x01};

// Every rate's labels round-trip through the packet in the Art-Net sender's test.
TEST(ArtNetTimeCode, BuildsThePacketByteForByteWithTheMTCRateTypesAndParsesLongerPacketsOfLaterRevisions) {
  const ArtNet::TimeCodePacket packet = ArtNet::timeCode({1, 2, 3, 4}, FrameRate::fps25);
  EXPECT_EQ(std::vector<std::uint8_t>(packet.begin(), packet.end()), kPacket25);
  EXPECT_EQ(ArtNet::parseTimeCode(kPacket25), (ArtNet::ReceivedTimeCode{{1, 2, 3, 4}, FrameRate::fps25, 0}));

  const std::uint8_t types[] = {0, 0, 1, 2, 3, 3};  // 23.976, 24, 25, 29.97 DF, 29.97 ND, 30
  for (std::size_t i = 0; i < kAllFrameRates.size(); ++i) {
    EXPECT_EQ(ArtNet::timeCode({23, 59, 59, 20}, kAllFrameRates[i])[18], types[i]) << i;
  }
  const auto last = ArtNet::timeCode({23, 59, 59, 29}, FrameRate::fps29_97DF, 7);
  EXPECT_EQ((std::vector<std::uint8_t>(last.begin() + 13, last.end())),
            (std::vector<std::uint8_t>{7, 29, 59, 59, 23, 2}));
  EXPECT_EQ(ArtNet::parseTimeCode(last),
            (ArtNet::ReceivedTimeCode{{23, 59, 59, 29}, FrameRate::fps29_97DF, 7}));

  std::vector<std::uint8_t> longer = kPacket25;
  longer.resize(ArtNet::kMaxPacketSize, 0xAA);
  EXPECT_TRUE(ArtNet::parseTimeCode(longer).has_value());
  std::vector<std::uint8_t> newer = kPacket25;
  newer[10] = 0x01;  // protocol version 270
  EXPECT_TRUE(ArtNet::parseTimeCode(newer).has_value());
}

TEST(ArtNetTimeCode, RejectsEverythingButAValidTimeCodePacket) {
  const auto changed = [](std::size_t index, std::uint8_t value) {
    std::vector<std::uint8_t> bytes = kPacket25;
    bytes[index] = value;
    return bytes;
  };
  std::vector<std::uint8_t> shortPacket(kPacket25.begin(), kPacket25.end() - 1);
  std::vector<std::uint8_t> oversized = kPacket25;
  oversized.resize(ArtNet::kMaxPacketSize + 1);
  const std::vector<std::vector<std::uint8_t>> rejected = {
      {},
      shortPacket,
      oversized,
      changed(6, 'T'),   // "Art-Nex"
      changed(7, ' '),   // identifier without its zero byte
      changed(9, 0x50),  // ArtDmx
      changed(8, 0x01),  // OpCode 0x9701
      changed(11, 13),   // protocol version 13
      changed(18, 4),    // no such type
      changed(14, 25),   // frame 25 at 25 fps
      changed(17, 24),   // hour 24
      changed(16, 60),   // minute 60
      {'A', 'r', 't', '-', 'N', 'e', 't', 0x00, 0x00, 0x97, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
       0x02},  // 00:01:00;00 does not exist at 29.97 DF
  };
  for (std::size_t i = 0; i < rejected.size(); ++i)
    EXPECT_FALSE(ArtNet::parseTimeCode(rejected[i]).has_value()) << i;
}

}  // namespace
}  // namespace quillmark
