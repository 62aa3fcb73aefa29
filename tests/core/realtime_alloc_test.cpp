// The clock is observed on the audio input and MIDI receive threads and read on the render and sender
// threads, the generator's snapshot on the latter too; none of that may touch the heap.

#include <gtest/gtest.h>

#include "core/generator.h"
#include "core/locked.h"
#include "core/timecode_clock.h"
#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

TEST(RealtimeAllocations, ObserveAndSnapshotReadsStayOffTheHeapWithAFullWindow) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting is off in sanitizer builds";
  Locked<TimecodeClock> clock;
  Generator generator = Generator::fromSettings(FrameRate::fps25, false, "10:00:00:00", 0.0);
  generator.start(1000.0);
  double sink = 0.0;
  std::size_t mostPoints = 0;
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    // Three seconds of MTC quarter frames at 30 fps (121 points in the window), with a confirmed jump at
    // 2 s and a dropout at 2.5 s, then an input reset: every path that refills the window.
    for (int k = 0; k < 360; ++k) {
      const double position = 108000.0 + 0.25 * k + (k >= 240 ? 500.0 : 0.0);
      const double at = 1000.0 + k / 120.0 + (k >= 300 ? 0.6 : 0.0);
      const ClockSnapshot snap = clock.withLock([&](TimecodeClock& c) {
        c.observe(position, at, FrameRate::fps30);
        mostPoints = std::max(mostPoints, c.points.size());
        sink += c.speed().value_or(0.0);
        return c.snapshot();
      });
      sink += snap.position(at + 0.01).value_or(0.0) + static_cast<double>(snap.state(at));
      sink += generator.snapshot(at).position(at).value_or(0.0);
    }
    clock.withLock([](TimecodeClock& c) { c.resetInput(); });
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
  EXPECT_GE(mostPoints, 120u);
  EXPECT_GT(sink, 0.0);
}

}  // namespace
}  // namespace quillmark
