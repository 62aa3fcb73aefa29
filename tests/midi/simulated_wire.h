#pragma once
// SimulatedPasses drives a product sender's pass (MTCSender, ArtNetSender) in simulated host time: its
// waits only move the simulated clock on. No thread, no socket, no JACK, no sleeping, so a test judges
// exact stamps at any period, lead or speed. SimulatedWire records what each MTC pass sends with its stamp.
// Threads: the test's own.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/clock_snapshot.h"
#include "midi/mtc_sender.h"

namespace quillmark::test {

template <class Sender>
class SimulatedPasses : public Sender::Wire {
 public:
  explicit SimulatedPasses(double start) : now_(start) {}

  void waitUntil(double hostSeconds) noexcept override { now_ = std::max(now_, hostSeconds); }
  double now() const { return now_; }

  // Passes until simulated host time `end`, each at the current time with the snapshot snapshotAt(now);
  // beforePass(now) runs first (to deliver input that has arrived by then). A pass costs 20 us.
  template <class SnapshotAt, class BeforePass>
  void run(Sender& sender, const typename Sender::Settings& settings, double end, SnapshotAt&& snapshotAt,
           BeforePass&& beforePass) {
    while (now_ < end) {
      beforePass(now_);
      sender.pass(now_, snapshotAt(now_), settings, *this);
      now_ += 20e-6;
    }
  }
  template <class SnapshotAt>
  void run(Sender& sender, const typename Sender::Settings& settings, double end, SnapshotAt&& snapshotAt) {
    run(sender, settings, end, snapshotAt, [](double) {});
  }

 private:
  double now_;
};

class SimulatedWire final : public SimulatedPasses<MTCSender> {
 public:
  struct Message {
    std::vector<std::uint8_t> bytes;
    double stamp = 0.0;  // the due host time the sender gave it
    bool isFullFrame() const { return bytes.size() == 10; }
  };

  using SimulatedPasses::SimulatedPasses;

  void sendFullFrame(const MTC::FullFrameMessage& m, double due) noexcept override {
    sent.push_back({{m.begin(), m.end()}, due});
  }
  void sendQuarterFrame(const MTC::QuarterFrameMessage& m, double due) noexcept override {
    sent.push_back({{m.begin(), m.end()}, due});
  }

  int fullFrames(std::size_t from = 0) const {
    return static_cast<int>(std::count_if(sent.begin() + static_cast<std::ptrdiff_t>(from), sent.end(),
                                          [](const Message& m) { return m.isFullFrame(); }));
  }

  std::vector<Message> sent;
};

// A locked clock at `position` frames at host time `at`, running at `speed` times play speed, with its
// newest input at `lastInput` (a test passes the reading instant to keep it live).
inline ClockSnapshot runningClock(FrameRate rate, double position, double at, double lastInput,
                                  double speed = 1.0) {
  ClockSnapshot snapshot;
  snapshot.rate = rate;
  snapshot.lastInput = lastInput;
  snapshot.fitTime = at;
  snapshot.fitPosition = position;
  snapshot.slope = speed * realFramesPerSecond(rate);
  snapshot.hasLocked = true;
  return snapshot;
}

// The label a full-frame message carries (the hours byte's top bits are the rate code).
template <class Bytes>
Timecode fullFrameLabel(const Bytes& message) {
  return {message[5] & 0x1F, message[6], message[7], message[8]};
}

}  // namespace quillmark::test
