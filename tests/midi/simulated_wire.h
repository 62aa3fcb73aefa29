#pragma once
// SimulatedWire drives the product's own MTC sender pass (MTCSender) in simulated host time: it records
// what each pass sends with its stamp, and its waits only move the simulated clock on. No thread, no JACK,
// no sleeping, so a test judges exact stamps at any period, lead or speed.
// Threads: the test's own.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "midi/mtc_sender.h"

namespace quillmark::test {

class SimulatedWire final : public MTCSender::Wire {
 public:
  struct Message {
    std::vector<std::uint8_t> bytes;
    double stamp = 0.0;  // the due host time the sender gave it
    bool isFullFrame() const { return bytes.size() == 10; }
  };

  explicit SimulatedWire(double start) : now_(start) {}

  void sendFullFrame(const MTC::FullFrameMessage& m, double due) noexcept override {
    sent.push_back({{m.begin(), m.end()}, due});
  }
  void sendQuarterFrame(const MTC::QuarterFrameMessage& m, double due) noexcept override {
    sent.push_back({{m.begin(), m.end()}, due});
  }
  void waitUntil(double hostSeconds) noexcept override { now_ = std::max(now_, hostSeconds); }

  double now() const { return now_; }

  // Passes until simulated host time `end`, each at the current time with the snapshot snapshotAt(now);
  // beforePass(now) runs first (to deliver input that has arrived by then). A pass costs 20 us.
  template <class SnapshotAt, class BeforePass>
  void run(MTCSender& sender, const MTCSender::Settings& settings, double end, SnapshotAt&& snapshotAt,
           BeforePass&& beforePass) {
    while (now_ < end) {
      beforePass(now_);
      sender.pass(now_, snapshotAt(now_), settings, *this);
      now_ += 20e-6;
    }
  }
  template <class SnapshotAt>
  void run(MTCSender& sender, const MTCSender::Settings& settings, double end, SnapshotAt&& snapshotAt) {
    run(sender, settings, end, snapshotAt, [](double) {});
  }

  int fullFrames(std::size_t from = 0) const {
    return static_cast<int>(std::count_if(sent.begin() + static_cast<std::ptrdiff_t>(from), sent.end(),
                                          [](const Message& m) { return m.isFullFrame(); }));
  }

  std::vector<Message> sent;

 private:
  double now_;
};

}  // namespace quillmark::test
