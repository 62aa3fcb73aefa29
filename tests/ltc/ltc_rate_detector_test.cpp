// The rate detector on made-up frames. On decoded code at play speed, varispeeded and shuttled, it is
// judged frame by frame through the engine (timecode_engine_core_test.cpp, LocksOnShuttledCode...).
#include "ltc/ltc_rate_detector.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace quillmark {
namespace {

LTCFrame frameAt(std::int64_t seconds, std::int64_t frames, bool dropFrame = false) {
  return LTCFrame{{0, 0, seconds, frames}, 0, dropFrame, false, 0, true};
}

// Feeds `count` frames of steady code with `fps` labels per second, starting at seconds 5 frame `from`.
std::optional<FrameRate> feed(LTCRateDetector& d, int fps, double speed, int from, int count) {
  std::optional<FrameRate> answer;
  for (int n = from; n < from + count; ++n) answer = d.observe(frameAt(5 + n / fps, n % fps), 1.0 / speed);
  return answer;
}

TEST(LTCRateDetector, AnswersFromTheFirstFrameBySpeedFlagAndFrameNumber) {
  const auto first = [](double speed, int frames, bool df = false) {
    LTCRateDetector d;
    return d.observe(frameAt(0, frames, df), 1.0 / speed);
  };
  EXPECT_EQ(first(40.0, 7, true), FrameRate::fps29_97DF);  // the flag beats any speed
  EXPECT_EQ(first(24.0, 3), FrameRate::fps24);
  EXPECT_EQ(first(24.5, 3), FrameRate::fps25);
  EXPECT_EQ(first(27.5, 3), FrameRate::fps30);
  EXPECT_EQ(first(24.0, 24), FrameRate::fps25);  // frame 24 rules out 24 fps
  EXPECT_EQ(first(24.0, 25), FrameRate::fps30);  // 25 or more forces 30
  // Shuttled or varispeeded far from every rate, the speed tells nothing: 25 unless the frame says more.
  EXPECT_EQ(first(62.5, 3), FrameRate::fps25);
  EXPECT_EQ(first(20.0, 3), FrameRate::fps25);
  EXPECT_EQ(first(12.0, 27), FrameRate::fps30);
}

TEST(LTCRateDetector, ARollOverPinsTheRateAtAnySpeedUntilAFrameNumberOutgrowsIt) {
  LTCRateDetector d;
  feed(d, 30, 30.0, 20, 12);  // rolls from 05:29 to 06:00
  EXPECT_EQ(d.wrapRate, 30);
  // Shuttled or varispeeded, the code still holds 30 labels a second, although the speed rule alone
  // would say 24 or 25.
  for (double speed : {27.0, 7.5, 20.0, 75.0}) EXPECT_EQ(feed(d, 30, speed, 2, 20), FrameRate::fps30);
  LTCRateDetector slow;
  feed(slow, 24, 24.0, 14, 12);
  EXPECT_EQ(slow.wrapRate, 24);
  EXPECT_EQ(feed(slow, 24, 30.0, 2, 15), FrameRate::fps24);  // 24 fps code at 1.25x
  // A frame numbered 24 disproves the roll-over (a new tape): the speed speaks again, 30 labels at 30 fps.
  EXPECT_EQ(feed(slow, 30, 30.0, 24, 4), FrameRate::fps30);
  EXPECT_FALSE(slow.wrapRate.has_value());

  LTCRateDetector jump;  // labels that skip a second are no roll-over
  jump.observe(frameAt(10, 29), 1.0 / 30);
  jump.observe(frameAt(12, 0), 1.0 / 30);
  EXPECT_FALSE(jump.wrapRate.has_value());
}

TEST(LTCRateDetector, ChangesItsAnswerAfterThreeAgreeingFramesAndMediansTheLastFifteenGoodDurations) {
  LTCRateDetector d;
  const auto at25 = [&] { return d.observe(frameAt(1, 3), 1.0 / 25); };
  const auto at30 = [&] { return d.observe(frameAt(1, 27), 1.0 / 25); };  // frame 27 forces 30
  for (int i = 0; i < 15; ++i) at25();
  // Two frames that force 30, one that does not (it cancels the streak), two more: still 25; a third: 30.
  for (bool forced : {true, true, false, true, true}) EXPECT_EQ(forced ? at30() : at25(), FrameRate::fps25);
  EXPECT_EQ(at30(), FrameRate::fps30);

  // Speed is the median of the last fifteen durations that are positive and finite.
  for (int i = 0; i < 40; ++i) d.observe(frameAt(1, 3), 1.0 / 24);
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 0.0, -1.0}) {
    EXPECT_EQ(d.observe(frameAt(1, 3), bad), FrameRate::fps24);
  }
  // The eighth fast frame outvotes the seven slow ones left in the median; two more confirm it.
  for (int i = 0; i < 9; ++i) d.observe(frameAt(1, 3), 1.0 / 30);
  EXPECT_EQ(d.rate, FrameRate::fps24);
  EXPECT_EQ(d.observe(frameAt(1, 3), 1.0 / 30), FrameRate::fps30);
}

}  // namespace
}  // namespace quillmark
