// Received code through the engine to the MTC sender, in simulated host time: a remote MTC source or LTC
// deck feeds the engine as the ports and the LTC input would (each message stamped with its own frame's
// host time, handed over at the start of the JACK cycle it falls in), and the product's own sender pass
// reads the engine between deliveries. Judged on the messages sent and their stamps only.
#include <gtest/gtest.h>

#include <cmath>
#include <span>

#include "engine/timecode_engine_core.h"
#include "midi/mtc.h"
#include "midi/mtc_decoder.h"
#include "tests/midi/simulated_wire.h"

namespace quillmark {
namespace {

using test::SimulatedWire;

constexpr double kT0 = 1000.0;
constexpr double kRate = 48000.0;

// When the JACK cycle of `period` frames that carries host time `stamp` begins, and with it the process
// callback that hands the message to the engine.
double deliveredAt(double stamp, int period) {
  const double cycle = period / kRate;
  return kT0 + std::floor((stamp - kT0) / cycle) * cycle;
}

// With freewheel 0 the outputs stop the moment the input is older than the reading window. MTC input
// arrives eight pieces at a time, a group every two frames, so the sender must judge that age when it
// reads the engine, not at the instant it sends for (send-ahead plus lead later), or it idles between
// groups and resynchronises with a full frame for each one.
TEST(EngineToMTCSender, MTCInWithoutFreewheelSendsOneFullFramePerRealJumpAtEveryLeadAndPeriod) {
  for (const int period : {256, 1024, 2048}) {
    for (const double lead : {-0.05, 0.0, 0.01, 0.05, 0.1}) {
      TimecodeEngineCore engine;
      engine.source.store(SourceKind::mtc);
      engine.clock.withLock([](TimecodeClock& c) { c.freewheelDuration = 0.0; });
      MTCDecoder decoder;
      // A desk sends 25 fps MTC from 01:00:00:00 and, 2 s in, locates 10 s ahead.
      std::int64_t sent = 0;
      const auto deliver = [&](double now) {
        for (;; ++sent) {
          const double stamp = kT0 + static_cast<double>(sent) / 100.0;
          if (deliveredAt(stamp, period) > now) return;
          const std::int64_t index = 4 * 90000 + sent + (sent >= 200 ? 1000 : 0);
          const auto message = MTC::quarterFrame(index, FrameRate::fps25);
          decoder.feed(std::span<const std::uint8_t>(message), stamp,
                       [&](const MTCDecoder::Event& event) { engine.receiveMTC(event, "Desk"); });
        }
      };
      MTCSender sender;
      SimulatedWire wire(kT0);
      wire.run(
          sender, {0.0, lead, period / kRate}, kT0 + 4.0, [&](double now) { return engine.snapshot(now); },
          deliver);
      EXPECT_EQ(wire.fullFrames(), 2)
          << "period " << period << ", lead " << lead << ": at the start and the jump";
      EXPECT_GT(wire.sent.size(), 350u) << "period " << period << ", lead " << lead;
    }
  }
}

// Reverse play in: both outputs go silent (they play only a clock that runs forward with a position) and
// MTC sends nothing, no full frame either; forward code brings them back with one full frame.
TEST(EngineToMTCSender, ReverseCodeSilencesBothOutputsAndForwardCodeResumesThemWithOneFullFrame) {
  TimecodeEngineCore engine;  // LTC in
  engine.rateOverride.store(FrameRate::fps25);
  // 2 s forward from 01:00:00:00, 2 s backwards, 2 s forward again: a frame every 40 ms, each handed to
  // the engine as it ends, at the start of the next 1024-frame cycle.
  struct Frame {
    std::int64_t number;
    bool reverse;
  };
  const auto frameAt = [](int k) {
    if (k < 50) return Frame{90000 + k, false};
    if (k < 100) return Frame{90000 + 99 - k, true};
    return Frame{90000 + k - 100, false};
  };
  int next = 0;
  bool reversing = false;
  std::size_t sentWhenReversed = 0, sentWhenForwardAgain = 0;
  MTCSender sender;
  SimulatedWire wire(kT0);
  const auto deliver = [&](double now) {
    for (; next < 150; ++next) {
      const double start = kT0 + 0.04 * next;
      if (deliveredAt(start + 0.04, 1024) + 1024 / kRate > now) return;
      const Frame frame = frameAt(next);
      engine.receiveLTC(LTCFrame{Timecode::fromFrame(frame.number, FrameRate::fps25)}, start, 0.04,
                        frame.reverse);
      if (frame.reverse && !reversing) sentWhenReversed = wire.sent.size();
      if (!frame.reverse && reversing) sentWhenForwardAgain = wire.sent.size();
      reversing = frame.reverse;
    }
  };
  int silentReads = 0;
  const auto snapshotAt = [&](double now) {
    const ClockSnapshot snapshot = engine.snapshot(now);
    if (reversing) {
      // What the LTC output asks for a buffer heard 50 ms from now.
      EXPECT_FALSE(snapshot.slope > 0.0 && snapshot.position(now + 0.05, now)) << "at " << now - kT0;
      ++silentReads;
    }
    return snapshot;
  };
  wire.run(sender, {0.0, 0.0, 1024 / kRate}, kT0 + 6.0, snapshotAt, deliver);

  ASSERT_GT(sentWhenReversed, 150u);
  EXPECT_GT(silentReads, 100);
  EXPECT_EQ(sentWhenForwardAgain, sentWhenReversed) << "nothing at all while the code ran backwards";
  EXPECT_EQ(wire.fullFrames(0), 2);
  EXPECT_TRUE(wire.sent[sentWhenForwardAgain].isFullFrame());
  EXPECT_EQ(wire.fullFrames(sentWhenForwardAgain), 1);
  EXPECT_GT(wire.sent.size() - sentWhenForwardAgain, 150u);
  EXPECT_TRUE(engine.lastReceived.read().has_value());
  const TimecodeClock clock = engine.clock.read();
  EXPECT_EQ(clock.jumps + clock.dropouts, 0) << "turning round is neither a jump nor a dropout";
}

}  // namespace
}  // namespace quillmark
