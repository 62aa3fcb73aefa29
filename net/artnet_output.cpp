#include "net/artnet_output.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/host_time.h"
#include "midi/artnet_sender.h"

namespace quillmark {

class ArtNetOutput::SocketWire final : public ArtNetSender::Wire {
 public:
  SocketWire(ArtNetOutput& output, const sockaddr_in& destination)
      : output_(output), destination_(destination) {}

  void send(const ArtNet::TimeCodePacket& packet, double) noexcept override {
    const ssize_t sent = ::sendto(output_.socket_, packet.data(), packet.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
    if (sent == static_cast<ssize_t>(packet.size())) {
      output_.lastErrno_.store(0, std::memory_order_relaxed);
      output_.packetsSent_.fetch_add(1, std::memory_order_relaxed);
    } else {
      output_.lastErrno_.store(sent < 0 ? errno : EMSGSIZE, std::memory_order_relaxed);
    }
  }
  void waitUntil(double hostSeconds) noexcept override { HostTime::waitUntil(HostTime::ticks(hostSeconds)); }

 private:
  ArtNetOutput& output_;
  const sockaddr_in destination_;
};

ArtNetOutput::~ArtNetOutput() {
  stop();
}

void ArtNetOutput::setClock(ClockFunction clock) {
  clock_ = std::move(clock);
}

void ArtNetOutput::start(const std::string& address, std::uint16_t port) {
  stop();
  const std::string where = "Cannot send Art-Net to " + address + ":" + std::to_string(port);
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &destination.sin_addr) != 1)
    throw std::system_error(EINVAL, std::generic_category(), where);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), where);
  // Lighting networks are usually reached by broadcast; without this the kernel refuses those sends.
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
  socket_ = fd;
  lastErrno_.store(0);
  running_.store(true);
  thread_ = std::thread([this, destination] { run(destination); });
}

void ArtNetOutput::stop() noexcept {
  running_.store(false);
  if (!thread_.joinable()) return;
  thread_.join();  // a pass waits a few milliseconds at most
  ::close(socket_);
  socket_ = -1;
}

std::optional<std::string> ArtNetOutput::error() const {
  const int error = lastErrno_.load(std::memory_order_relaxed);
  if (error == 0) return std::nullopt;
  return std::system_category().message(error);
}

void ArtNetOutput::run(const sockaddr_in& destination) noexcept {
  pthread_setname_np(pthread_self(), "Art-Net output");
  // As for MTC: real-time scheduling keeps the sends close to their frames where the user may have it.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  ArtNetSender sender;
  SocketWire wire(*this, destination);
  while (running_.load(std::memory_order_relaxed)) {
    const double now = HostTime::now();
    const ClockSnapshot snapshot = clock_ ? clock_() : ClockSnapshot{};
    const ArtNetSender::Settings settings{offsetFrames.load(std::memory_order_relaxed),
                                          leadTime.load(std::memory_order_relaxed)};
    sender.pass(now, snapshot, settings, wire);
  }
}

}  // namespace quillmark
