// ArtNetInput through the real UDP stack, on the loopback interface only: damage, floods and senders. That
// it hands on every timecode in order is proven by the output test, which receives through it; that its
// arrival stamps are true, by the Art-Net road of timecode_engine_jack_test, whose clock measures the
// desk's speed from them; how a failed start reads, by the headless test, which waits for the whole line.
#include "net/artnet_input.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/net/received_timecodes.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

// A sending socket of its own, so that each one is a separate sender (its own source port).
class Sender {
 public:
  explicit Sender(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    to_.sin_family = AF_INET;
    to_.sin_port = htons(port);
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~Sender() { ::close(fd_); }
  void send(std::span<const std::uint8_t> bytes) const {
    ASSERT_EQ(
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_),
        static_cast<ssize_t>(bytes.size()));
  }
  void send(const Timecode& label, FrameRate rate) const { send(ArtNet::timeCode(label, rate)); }

 private:
  int fd_;
  sockaddr_in to_{};
};

// A desk floods the input with damage and other Art-Net among its timecode; a second desk is passed over
// until the first has been silent for the follow time (0.2 s).
TEST(ArtNetInput, CountsDamageAndOtherArtNetApartSurvivesAFloodWithoutAllocatingAndFollowsOneSender) {
  test::ReceivedTimeCodes received;
  received.markRealtime = true;
  test::resetRealtimeAllocations();
  ArtNetInput input(received.handler());
  input.start({"127.0.0.1", 0, 0.2});
  const Sender desk(input.boundPort());
  desk.send({1, 0, 0, 0}, FrameRate::fps30);  // marks the receive thread
  ASSERT_TRUE(test::waitFor([&] { return received.count == 1; }, 5.0));

  const auto packet = ArtNet::timeCode({1, 0, 0, 1}, FrameRate::fps30);
  std::vector<std::uint8_t> dmx(packet.begin(), packet.end());
  dmx[9] = 0x50;  // ArtDmx
  std::vector<std::uint8_t> badFrame(packet.begin(), packet.end());
  badFrame[14] = 30;  // frame 30 at 30 fps
  const std::vector<std::uint8_t> garbage = {'h', 'e', 'l', 'l', 'o'};
  std::vector<std::uint8_t> oversized(packet.begin(), packet.end());
  oversized.resize(ArtNet::kMaxPacketSize + 100);
  const std::vector<std::uint8_t> empty;
  const int rounds = 300;
  for (int i = 0; i < rounds; ++i) {
    desk.send(dmx);
    desk.send(badFrame);
    desk.send(garbage);
    desk.send(oversized);
    desk.send(empty);
    if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let the socket drain
  }
  // The flood may still fill the socket's buffer, where the kernel drops what does not fit: send until
  // the input has read a timecode after it.
  const bool readOn = test::waitFor(
      [&] {
        desk.send({1, 0, 0, 2}, FrameRate::fps30);
        return received.count >= 2;
      },
      5.0);
  ASSERT_TRUE(readOn) << "the input stopped reading";
  EXPECT_EQ(received.timecodes[1].timecode, (Timecode{1, 0, 0, 2}));
  const ArtNetInput::Stats stats = input.stats();
  // The kernel may drop datagrams of a flood; what arrived is sorted by kind.
  EXPECT_GT(stats.otherPackets, 0u);
  EXPECT_LE(stats.otherPackets, static_cast<std::uint64_t>(rounds));
  EXPECT_GT(stats.damaged, 0u);
  EXPECT_LE(stats.damaged, static_cast<std::uint64_t>(4 * rounds));
  EXPECT_EQ(stats.timecodes, received.count);
  if (test::allocationCountingAvailable()) {
    EXPECT_EQ(test::realtimeAllocations(), 0u);
  }

  // The flood's last timecodes may still be on their way: judge the latest label handed on.
  const auto latest = [&] { return received.timecodes[received.count - 1].timecode; };
  const Sender second(input.boundPort());
  second.send({9, 0, 0, 0}, FrameRate::fps30);
  desk.send({1, 0, 0, 3}, FrameRate::fps30);
  ASSERT_TRUE(test::waitFor([&] { return latest() == Timecode{1, 0, 0, 3}; }, 5.0));
  EXPECT_EQ(input.stats().otherSenders, 1u) << "the second desk was not passed over";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // longer than the follow time
  second.send({9, 0, 0, 1}, FrameRate::fps30);
  EXPECT_TRUE(test::waitFor(
      [&] {
        return latest() == Timecode{9, 0, 0, 1};
      },
      5.0))
      << "the second desk was not followed once the first fell silent";
}

}  // namespace
}  // namespace quillmark
