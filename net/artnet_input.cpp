#include "net/artnet_input.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/host_time.h"

namespace quillmark {

namespace {

// "Art-Net" and its zero byte, then the OpCode low byte first.
bool isArtNet(std::span<const std::uint8_t> datagram) noexcept {
  static constexpr std::array<std::uint8_t, 8> kIdentifier = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
  return datagram.size() >= 10 && datagram.size() <= ArtNet::kMaxPacketSize &&
         std::equal(kIdentifier.begin(), kIdentifier.end(), datagram.begin());
}

bool isTimeCodeOpCode(std::span<const std::uint8_t> datagram) noexcept {
  return (datagram[8] | (datagram[9] << 8)) == ArtNet::kOpTimeCode;
}

[[noreturn]] void fail(const std::string& what, int error) {
  throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

ArtNetInput::ArtNetInput(Handler handler) : handler_(std::move(handler)) {}

ArtNetInput::~ArtNetInput() {
  stop();
}

void ArtNetInput::start(const Config& config) {
  stop();
  const std::string where =
      "Cannot listen for Art-Net on " + config.address + ":" + std::to_string(config.port);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(config.port);
  if (inet_pton(AF_INET, config.address.c_str(), &local.sin_addr) != 1) fail(where, EINVAL);

  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail(where, errno);
  // Other show software on this computer may listen on the same port: broadcast timecode reaches both.
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int error = errno;
    ::close(fd);
    fail(where, error);
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(fd);
    fail(where, error);
  }
  socket_ = fd;
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  boundPort_ = ntohs(bound.sin_port);
  thread_ = std::thread([this, follow = config.followSeconds] { receiveLoop(follow); });
}

void ArtNetInput::stop() noexcept {
  if (!thread_.joinable()) return;
  ::close(wakeWrite_);  // the read end turns readable (end of file): the loop returns
  thread_.join();
  ::close(wakeRead_);
  ::close(socket_);
  socket_ = wakeRead_ = wakeWrite_ = -1;
  boundPort_ = 0;
}

ArtNetInput::Stats ArtNetInput::stats() const noexcept {
  return {timecodes_.load(std::memory_order_relaxed), damaged_.load(std::memory_order_relaxed),
          otherPackets_.load(std::memory_order_relaxed), otherSenders_.load(std::memory_order_relaxed)};
}

void ArtNetInput::receiveLoop(double followSeconds) noexcept {
  // One byte more than the largest Art-Net packet, so that an oversized datagram shows as one.
  std::array<std::uint8_t, ArtNet::kMaxPacketSize + 1> buffer;
  bool following = false;
  sockaddr_in followed{};
  double lastHeard = 0;
  pollfd waits[2] = {{socket_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  for (;;) {
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    if ((waits[0].revents & POLLIN) == 0) continue;
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t received = ::recvfrom(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    const double arrived = HostTime::now();
    if (received < 0) continue;  // a stray wake-up, or an error the next datagram will not share
    const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received));
    if (!isArtNet(datagram)) {
      damaged_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    if (!isTimeCodeOpCode(datagram)) {
      otherPackets_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    const auto timecode = ArtNet::parseTimeCode(datagram);
    if (!timecode) {
      damaged_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    const bool sameSender =
        sender.sin_addr.s_addr == followed.sin_addr.s_addr && sender.sin_port == followed.sin_port;
    if (following && !sameSender && arrived - lastHeard < followSeconds) {
      otherSenders_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    following = true;
    followed = sender;
    lastHeard = arrived;
    timecodes_.fetch_add(1, std::memory_order_relaxed);
    handler_(*timecode, arrived);
  }
}

}  // namespace quillmark
