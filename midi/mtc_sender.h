#pragma once
// MTCSender makes the MTC output's decisions, one pass of its loop at a time: which quarter frame is due
// next and when, whether a full frame must go first, and how long to wait. It reads no clock and owns no
// thread: the loop (MTCOutput) hands each pass the host time, the snapshot and the settings it read, and a
// Wire that sends and waits, so the same pass can also be driven with simulated host times.
//
// The loop lives `horizon` seconds ahead of the host clock: a message handed over at `now` can land at
// `now + horizon` at the earliest (see MIDIPorts::sendAheadHorizon). So the position is read for that
// instant plus the lead, full frames are stamped with it and "too early" is judged against it, while
// whether the input is still live is judged at `now`, when the snapshot is read.
//
// Full frames: one when sending (re)starts, after the clock was idle, when the MTC rate code changes, and
// when the clock is more than kStepTolerance quarter frames away from the sender's own sequence, either
// way. Within that the sequence runs on, catching up by at most one piece per pass, and no piece is sent
// twice.
//
// Threads: an instance belongs to one sender loop. pass() never allocates, locks or logs.

#include <cstdint>
#include <optional>

#include "core/clock_snapshot.h"
#include "core/frame_rate.h"
#include "midi/mtc.h"

namespace quillmark {

class MTCSender {
 public:
  // Where a pass sends its messages, stamped with the host time (seconds) they are due, and how it waits.
  class Wire {
   public:
    virtual void sendFullFrame(const MTC::FullFrameMessage& message, double dueHostSeconds) noexcept = 0;
    virtual void sendQuarterFrame(const MTC::QuarterFrameMessage& message,
                                  double dueHostSeconds) noexcept = 0;
    // Returns at host time `hostSeconds` or, when that has passed, at once.
    virtual void waitUntil(double hostSeconds) noexcept = 0;

   protected:
    ~Wire() = default;
  };

  struct Settings {
    double offsetFrames = 0.0;    // added to the clock position
    double leadSeconds = 0.0;     // MTC runs this much ahead of the clock
    double horizonSeconds = 0.0;  // how long before its due time a message must be handed over
  };

  // How far (quarter frames) the clock may stand from the sender's own sequence before it resynchronises
  // with a full frame. A pass normally begins just before the last piece sent falls due, so the clock
  // stands about level with that piece: a step of one quarter frame either way, or a pass that wakes a
  // quarter frame late, stays inside; two quarter frames do not. The slack above one quarter covers the
  // early hand-over and the loop's wake-up jitter.
  static constexpr double kStepTolerance = 1.25;

  MTCSender() = default;
  MTCSender(const MTCSender&) = delete;
  MTCSender& operator=(const MTCSender&) = delete;

  // One pass at host time `now` with the snapshot read at `now`. Sends at most one full frame and one
  // quarter frame and waits at most about 50 ms.
  void pass(double now, const ClockSnapshot& snapshot, const Settings& settings, Wire& wire) noexcept;

 private:
  std::int64_t lastIndex_ = 0;  // the last quarter-frame index sent, or the one before the next to send
  bool needFullFrame_ = true;
  std::optional<FrameRate> lastFullFrameRate_;
};

}  // namespace quillmark
