#pragma once
// The lighting desk of the end-to-end tests, on the loopback interface only: ArtNetListener receives what
// Quillmark sends and stamps each datagram with the host time it arrived.
// Threads: construct, read and destroy on the test thread; it runs one thread of its own, which stops
// within 50 ms of the destructor (every wait has a deadline).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/host_time.h"
#include "midi/artnet_timecode.h"

namespace quillmark::test {

// Listens on 127.0.0.1 at a port the system picks and keeps every datagram with its arrival time.
class ArtNetListener {
 public:
  struct Datagram {
    std::vector<std::uint8_t> bytes;
    double host = 0;
  };

  ArtNetListener() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

 private:
  int fd_;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<Datagram> datagrams_;  // guarded by mutex_
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quillmark::test
