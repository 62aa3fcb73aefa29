#pragma once
// The lighting desk of the end-to-end tests, on the loopback interface only: ArtNetDesk sends ArtTimeCode
// to 127.0.0.1 as a desk would, one packet per frame at its due host time; ArtNetListener receives what
// Quillmark sends and stamps each datagram with the host time it arrived.
// Threads: construct, read and destroy on the test thread; each runs one thread of its own, which stops
// within 50 ms of the destructor (every wait has a deadline).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/host_time.h"
#include "midi/artnet_timecode.h"

namespace quillmark::test {

inline sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline void sleepUntil(double hostSeconds) {
  timespec until{};
  until.tv_sec = static_cast<time_t>(std::floor(hostSeconds));
  until.tv_nsec = static_cast<long>((hostSeconds - std::floor(hostSeconds)) * 1e9);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// Sends labels at `type` from frame `start`, `framesPerSecond` frames a second, to 127.0.0.1:`port`; quiet
// from `gapAfter` seconds for `gapSeconds` seconds, and done after `seconds` in all.
class ArtNetDesk {
 public:
  ArtNetDesk(std::uint16_t port, FrameRate type, double start, double framesPerSecond, double seconds,
             double gapAfter = 0, double gapSeconds = 0)
      : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) throw std::runtime_error("no socket for the test desk");
    startHost_ = HostTime::now() + 0.05;
    thread_ = std::thread([=, this] {
      const sockaddr_in to = loopback(port);
      const auto count = static_cast<std::int64_t>(seconds * framesPerSecond);
      for (std::int64_t n = 0; n < count && !stopping_; ++n) {
        const double due = startHost_ + static_cast<double>(n) / framesPerSecond;
        sleepUntil(due);
        if (due - startHost_ >= gapAfter && due - startHost_ < gapAfter + gapSeconds) continue;
        const auto packet =
            ArtNet::timeCode(Timecode::fromFrame(static_cast<std::int64_t>(start) + n, type), type);
        ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    });
  }
  ~ArtNetDesk() {
    stopping_ = true;
    thread_.join();
    ::close(fd_);
  }
  ArtNetDesk(const ArtNetDesk&) = delete;
  ArtNetDesk& operator=(const ArtNetDesk&) = delete;

  double startHost() const { return startHost_; }

 private:
  int fd_;
  double startHost_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Listens on 127.0.0.1 at a port the system picks and keeps every datagram with its arrival time.
class ArtNetListener {
 public:
  struct Datagram {
    std::vector<std::uint8_t> bytes;
    double host = 0;
  };

  ArtNetListener() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in local = loopback(0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
      throw std::runtime_error("no socket for the test listener");
    socklen_t length = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] {
      std::array<std::uint8_t, 2048> buffer{};
      while (!stopping_) {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) continue;
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
        const double host = HostTime::now();
        if (got < 0) continue;
        std::lock_guard<std::mutex> guard(mutex_);
        datagrams_.push_back({{buffer.begin(), buffer.begin() + got}, host});
      }
    });
  }
  ~ArtNetListener() {
    stopping_ = true;
    thread_.join();
    ::close(fd_);
  }
  ArtNetListener(const ArtNetListener&) = delete;
  ArtNetListener& operator=(const ArtNetListener&) = delete;

  std::uint16_t port() const { return port_; }
  std::vector<Datagram> datagrams() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return datagrams_;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    datagrams_.clear();
  }

 private:
  int fd_;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<Datagram> datagrams_;  // guarded by mutex_
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quillmark::test
