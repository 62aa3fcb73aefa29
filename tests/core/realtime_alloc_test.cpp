// The clock is observed on the audio input and MIDI receive threads and read on the render and sender
// threads; none of that may touch the heap once the clock exists.

#include <gtest/gtest.h>

#include "core/clock_snapshot.h"
#include "core/generator.h"
#include "core/locked.h"
#include "core/timecode_clock.h"
#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

TEST(RealtimeAllocations, ObserveAndSnapshotReadsStayOffTheHeap) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  Locked<TimecodeClock> clock;
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "10:00:00:00", 0.0);
  generator.start(1000.0);

  test::resetRealtimeAllocations();
  double sink = 0.0;
  std::size_t maxPoints = 0;
  {
    test::RealtimeScope realtime;
    // Three seconds of MTC at 30 fps: eight quarter frames per two frames fill the window to 121 points.
    // A jump, a dropout and an input reset on the way exercise every path that empties the window.
    const double quarter = 1.0 / 120.0;
    for (int k = 0; k < 360; ++k) {
      double position = 108000.0 + 0.25 * k;
      double at = 1000.0 + k * quarter;
      if (k >= 200) position += 500.0;  // a jump, confirmed by the next quarter frame
      if (k >= 300) at += 0.6;          // then a dropout
      clock.withLock([&](TimecodeClock& c) { c.observe(position, at, FrameRate::fps30); });
      const ClockSnapshot snap = clock.withLock([](TimecodeClock& c) { return c.snapshot(); });
      sink += snap.position(at + 0.01).value_or(0.0) + static_cast<double>(snap.state(at + 0.01));
      sink += clock.withLock([](TimecodeClock& c) { return c.speed().value_or(0.0); });
      const std::size_t held = clock.withLock([](TimecodeClock& c) { return c.points.size(); });
      if (held > maxPoints) maxPoints = held;
      const ClockSnapshot generated = generator.snapshot(at);
      sink += generated.position(at).value_or(0.0);
    }
    clock.withLock([](TimecodeClock& c) { c.resetInput(); });
    clock.withLock([](TimecodeClock& c) { c.observe(0.0, 2000.0, FrameRate::fps25); });
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
  EXPECT_GT(sink, 0.0);
  EXPECT_GE(maxPoints, 120u);  // the window really was full
  const TimecodeClock settled = clock.read();
  EXPECT_EQ(settled.jumps, 0);  // reset by resetInput
  EXPECT_EQ(settled.points.size(), 1u);
}

}  // namespace
}  // namespace quillmark
