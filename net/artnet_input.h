#pragma once
// ArtNetInput listens for Art-Net timecode on a UDP port and hands every ArtTimeCode packet of the stream
// it follows to a handler, stamped with the host time it arrived, so the engine can fit its clock to the
// packets as it does to MTC full frames. A show network carries much else on the Art-Net port (DMX, polls
// and their replies): those packets are counted and passed over, never mistaken for damage; a datagram
// that is not Art-Net, or an ArtTimeCode that does not parse, counts as damaged. With several senders on
// the network it follows the first one heard until that one has been silent for `followSeconds`, so two
// desks cannot make the clock jump between them packet by packet.
//
// Threads: start, stop and the destructor on one controlling thread (the main thread). The receive thread
// calls the handler; it never allocates or takes a lock of its own, so the handler decides what the
// thread may wait on. stats() is safe from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "midi/artnet_timecode.h"

namespace quillmark {

class ArtNetInput {
 public:
  using Handler = std::function<void(const ArtNet::ReceivedTimeCode&, double hostSeconds)>;

  struct Config {
    std::string address = "0.0.0.0";     // the local IPv4 address to listen on; 0.0.0.0 for every interface
    std::uint16_t port = ArtNet::kPort;  // 0 asks the system for a free port (tests)
    double followSeconds = 1.0;          // how long the followed sender may fall silent before another wins
  };

  struct Stats {
    std::uint64_t timecodes = 0;     // ArtTimeCode packets handed to the handler
    std::uint64_t damaged = 0;       // datagrams that are not Art-Net, or ArtTimeCode that did not parse
    std::uint64_t otherPackets = 0;  // well-formed Art-Net of other kinds (DMX, polls, ...)
    std::uint64_t otherSenders = 0;  // timecode from a sender other than the one followed
  };

  explicit ArtNetInput(Handler handler);
  ~ArtNetInput();
  ArtNetInput(const ArtNetInput&) = delete;
  ArtNetInput& operator=(const ArtNetInput&) = delete;

  // Stops any previous run, binds the port and starts the receive thread. Throws std::system_error, whose
  // what() names the address and the reason, when the address is not an IPv4 address or cannot be bound.
  void start(const Config& config);
  void stop() noexcept;
  bool isRunning() const noexcept { return thread_.joinable(); }

  // The port actually bound (the chosen one, or the system's pick for port 0); 0 when not running.
  std::uint16_t boundPort() const noexcept { return boundPort_; }

  Stats stats() const noexcept;

 private:
  void receiveLoop(double followSeconds) noexcept;

  // Constant after construction.
  const Handler handler_;

  // Owned by the controlling thread while no receive thread runs; read by the receive thread while it runs.
  int socket_ = -1;
  int wakeRead_ = -1;  // a pipe whose write end, closed by stop(), wakes the receive thread
  int wakeWrite_ = -1;
  std::uint16_t boundPort_ = 0;
  std::thread thread_;

  // Written by the receive thread, read anywhere.
  std::atomic<std::uint64_t> timecodes_{0};
  std::atomic<std::uint64_t> damaged_{0};
  std::atomic<std::uint64_t> otherPackets_{0};
  std::atomic<std::uint64_t> otherSenders_{0};
};

}  // namespace quillmark
