// The diagnostic line a confirmed LTC jump writes while TIMECODE_DEBUG is set. The variable is read once
// per process, so this binary sets it in main() before anything can ask.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/timecode_engine_core.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

void feed(TimecodeEngineCore& engine, std::int64_t frame, double time) {
  engine.receiveLTC(LTCFrame{Timecode::fromFrame(frame, FrameRate::fps25)}, time, 0.04, false);
}

// The audio input thread only queues the jump; the printer's thread formats and writes the line.
TEST(TimecodeDebug, WritesOneExactLinePerConfirmedJumpOffTheReceivingThread) {
  ASSERT_TRUE(TimecodeEngineCore::debug());
  TimecodeEngineCore engine;
  ASSERT_NE(engine.jumpLines(), nullptr);
  double t = 100.0;
  for (std::int64_t f = 900000; f < 900025; ++f, t += 0.04) feed(engine, f, t);

  testing::internal::CaptureStderr();
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    feed(engine, 910000, t);         // stray: rejected, nothing reported
    feed(engine, 910001, t + 0.04);  // confirms the jump
  }
  const bool printed = test::waitFor([&] { return engine.jumpLines()->printed() == 1; }, 10.0);
  const std::string written = testing::internal::GetCapturedStderr();

  ASSERT_TRUE(printed);
  EXPECT_EQ(written,
            "jump: LTC 10:06:40:01 as 25 = 910001, expected 900026.00 at clock rate 25, duration 0.04000\n");
  if (test::allocationCountingAvailable()) {
    EXPECT_EQ(test::realtimeAllocations(), 0u) << "the receiving thread formatted or printed the line";
  }
}

TEST(TimecodeDebug, WritesADashWhenNoPositionWasExpected) {
  EXPECT_EQ(
      JumpLinePrinter::line(JumpReport{Timecode{1, 2, 3, 4}, FrameRate::fps29_97DF, 111722, std::nullopt,
                                       FrameRate::fps29_97ND, 1001.0 / 30000.0}),
      "jump: LTC 01:02:03:04 as 29.97 DF = 111722, expected - at clock rate 29.97 ND, duration 0.03337\n");
}

}  // namespace
}  // namespace quillmark

int main(int argc, char** argv) {
  setenv("TIMECODE_DEBUG", "", 1);  // any value, even empty, switches it on
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
