// Received code through the engine to the MTC sender, in simulated host time: a remote MTC source or LTC
// deck feeds the engine as the ports and the LTC input would (each message stamped with its own frame's
// host time, handed over at the start of the JACK cycle it falls in), and the product's own sender pass
// reads the engine between deliveries. Judged on the messages sent and their stamps only.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <span>
#include <vector>

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

// 25 fps LTC as the LTC input hands it to the engine: frame k began at kT0 + 0.04 k and arrives at the
// start of the 1024-frame cycle after the one it ended in. `heard(k)` is what the tape played there: a
// frame number and direction, or nothing where the code was cut.
struct TapeFrame {
  std::int64_t number;
  bool reverse = false;
};
template <class Heard>
auto ltcDeck(TimecodeEngineCore& engine, int count, Heard heard) {
  return [&engine, count, heard, next = 0](double now) mutable {
    for (; next < count; ++next) {
      const double start = kT0 + 0.04 * next;
      if (deliveredAt(start + 0.04, 1024) + 1024 / kRate > now) return;
      if (const std::optional<TapeFrame> frame = heard(next)) {
        engine.receiveLTC(LTCFrame{Timecode::fromFrame(frame->number, FrameRate::fps25)}, start, 0.04,
                          frame->reverse);
      }
    }
  };
}

// LTC in, from 01:00:00:00: 2 s forward, 2 s backwards, 2 s forward, cut for 1 s (less than the 2 s
// freewheel), 1 s forward, cut for 3 s, 2 s forward. Backwards MTC sends nothing at all; through the
// short cut it runs on; through the long one it runs on for the freewheel, then falls silent. It resumes
// with one full frame each time. (LTC out plays only a clock that runs forward: ltc_streams_test.cpp; the
// clock's reverse line and freewheel: timecode_clock_test.cpp.)
TEST(EngineToMTCSender, MTCOutStopsForReverseCodeAndAfterTheFreewheelAndResumesWithTheCode) {
  TimecodeEngineCore engine;                                                      // LTC in
  constexpr double kReverse = 2.0, kForward = 4.0, kLongCut = 8.0, kBack = 11.0;  // seconds from kT0
  const auto heard = [](int k) -> std::optional<TapeFrame> {
    if (k >= 50 && k < 100) return TapeFrame{90000 + 99 - k, true};
    if ((k >= 150 && k < 175) || (k >= 200 && k < 275)) return std::nullopt;
    return TapeFrame{90000 + (k < 50 ? k : k - 100)};
  };
  MTCSender sender;
  SimulatedWire wire(kT0);
  wire.run(
      sender, {0.0, 0.0, 1024 / kRate}, kT0 + 13.0, [&](double now) { return engine.snapshot(now); },
      ltcDeck(engine, 325, heard));

  // Silent from the turn to the forward code, and from the end of the freewheel to the code's return,
  // resuming each time with a full frame; no other full frame but the first.
  const double lastBeforeLongCut = kLongCut - 0.04;
  std::vector<std::size_t> resumed;  // the first message after each silence
  for (std::size_t i = 1; i < wire.sent.size(); ++i) {
    if (wire.sent[i].stamp - wire.sent[i - 1].stamp >= 0.05) resumed.push_back(i);
  }
  ASSERT_EQ(resumed.size(), 2u) << "MTC must be silent while the code runs backwards and after a freewheel";
  const auto second = [&](std::size_t i) { return wire.sent[i].stamp - kT0; };
  EXPECT_LT(second(resumed[0] - 1), kReverse + 0.1) << "MTC went on with backwards code";
  EXPECT_GE(second(resumed[0]), kForward);
  EXPECT_GT(second(resumed[1] - 1), lastBeforeLongCut + 2.0) << "MTC stopped within the freewheel";
  EXPECT_LT(second(resumed[1] - 1), lastBeforeLongCut + 2.2) << "MTC went on after the freewheel ran out";
  EXPECT_GE(second(resumed[1]), kBack);
  for (const std::size_t i : resumed) EXPECT_TRUE(wire.sent[i].isFullFrame()) << "at " << second(i);
  EXPECT_EQ(wire.fullFrames(), 3);

  const TimecodeClock clock = engine.clock.read();
  EXPECT_EQ(clock.jumps, 0) << "turning round is no jump";
  EXPECT_EQ(clock.dropouts, 2) << "each cut is a dropout, the turns are not";
  EXPECT_EQ(engine.snapshot(wire.now()).state(wire.now()), TimecodeClock::State::locked);
}

}  // namespace
}  // namespace quillmark
