#pragma once
// ArtNetOutput sends Art-Net timecode that follows the engine's clock, as MTCOutput sends MIDI timecode:
// its "Art-Net output" thread takes a fresh ClockSnapshot on every pass, lets an ArtNetSender work out the
// next frame and when it is due, waits until then and sends one ArtTimeCode packet to the destination. A
// datagram leaves the moment it is sent, so unlike MIDI there is nothing to hand over early.
//
// A send that fails (no route, an unreachable network, a cable pulled) is kept as the output's error and
// the next frame is sent all the same: the error clears by itself once packets go out again, and nothing
// here ever stops the other outputs.
//
// Threads: the constructor, setClock(), start(), stop(), error() and the destructor on the owner's (main)
// thread; the loop on its own thread, which reads the atomics and the clock function and never allocates,
// locks or logs. offsetFrames and leadTime may be set from any thread at any time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "core/clock_snapshot.h"

struct sockaddr_in;

namespace quillmark {

class ArtNetOutput {
 public:
  using ClockFunction = std::function<ClockSnapshot()>;

  ArtNetOutput() = default;
  // Stops the loop and waits for it to end.
  ~ArtNetOutput();
  ArtNetOutput(const ArtNetOutput&) = delete;
  ArtNetOutput& operator=(const ArtNetOutput&) = delete;

  // The time line to follow. REQUIRES: no loop is running (the engine installs it once, before any start).
  void setClock(ClockFunction clock);

  // Frames added to the clock position (fractional and negative allowed).
  std::atomic<double> offsetFrames{0.0};
  // Seconds by which Art-Net runs ahead of the clock.
  std::atomic<double> leadTime{0.0};

  // Stops any running loop, opens a UDP socket for the IPv4 `address` (unicast, a directed broadcast or
  // 255.255.255.255) and `port`, and starts the loop. Throws std::system_error, whose what() names the
  // destination, when the address is not an IPv4 address or no socket can be had.
  void start(const std::string& address, std::uint16_t port);
  // Ends the loop and waits for it (a few milliseconds).
  void stop() noexcept;
  bool isStarted() const noexcept { return thread_.joinable(); }

  // The reason the latest send failed ("Network is unreachable"), or none while packets go out.
  std::optional<std::string> error() const;

  std::uint64_t packetsSent() const noexcept { return packetsSent_.load(std::memory_order_relaxed); }

 private:
  class SocketWire;

  void run(const sockaddr_in& destination) noexcept;

  ClockFunction clock_;
  int socket_ = -1;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<int> lastErrno_{0};  // 0 while sends succeed
  std::atomic<std::uint64_t> packetsSent_{0};
};

}  // namespace quillmark
