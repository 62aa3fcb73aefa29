#pragma once
// ArtNetSender makes the Art-Net output's decisions, one pass of its loop at a time: which frame is due
// next, when, and how long to wait. Like MTCSender it reads no clock and owns no thread: the loop hands
// each pass the host time, the snapshot and the settings it read, and a Wire that sends and waits, so the
// same pass can be driven with simulated host times.
//
// One packet per frame, sent when the clock (offset and lead applied) reaches the start of that frame.
// When sending (re)starts, after the clock was idle, and when the clock steps away from the frames being
// sent, the frame the clock stands in goes out at once (late, but a lighting desk gets the new label
// without waiting a frame), and the run continues from there. Nothing is sent while the clock is idle or
// running backwards.
//
// Threads: an instance belongs to one sender loop. pass() never allocates, locks or logs.

#include <cstdint>
#include <optional>

#include "core/clock_snapshot.h"
#include "midi/artnet_timecode.h"

namespace quillmark {

class ArtNetSender {
 public:
  // Where a pass sends its packet, with the host time (seconds) its frame is due, and how it waits.
  class Wire {
   public:
    virtual void send(const ArtNet::TimeCodePacket& packet, double dueHostSeconds) noexcept = 0;
    // Returns at host time `hostSeconds` or, when that has passed, at once.
    virtual void waitUntil(double hostSeconds) noexcept = 0;

   protected:
    ~Wire() = default;
  };

  struct Settings {
    double offsetFrames = 0.0;  // added to the clock position
    double leadSeconds = 0.0;   // Art-Net runs this much ahead of the clock
  };

  ArtNetSender() = default;
  ArtNetSender(const ArtNetSender&) = delete;
  ArtNetSender& operator=(const ArtNetSender&) = delete;

  // One pass at host time `now` with the snapshot read at `now`. Sends at most one packet and waits at
  // most a few milliseconds.
  void pass(double now, const ClockSnapshot& snapshot, const Settings& settings, Wire& wire) noexcept;

 private:
  std::optional<std::int64_t> lastFrame_;  // the frame sent last, in frames since midnight, not folded
};

}  // namespace quillmark
