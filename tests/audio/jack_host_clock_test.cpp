// The JACK-to-host offset: of each block of readings the least preempted one (smallest gap between the two
// host reads) sets the offset, and the very first reading is used until a block completes.
#include <gtest/gtest.h>

#include "audio/jack_host_clock.h"

namespace quillmark {
namespace {

TEST(JackHostClock, TakesTheReadingWithTheSmallestGapOfEachBlock) {
  JackHostClock clock;
  EXPECT_FALSE(clock.valid());
  // JACK reads 1000 us while the host clock reads 186'000'000 ns +- the gap: offset 185 ms.
  clock.measure(185'999'000, 1000, 186'001'000);  // 2 us gap, midpoint exact
  ASSERT_TRUE(clock.valid());
  EXPECT_EQ(clock.offsetNanoseconds(), 185'000'000);

  // A preempted reading (host read late) would pull the offset by 40 us; a tight one is exact.
  for (int i = 1; i < JackHostClock::kBlock; ++i) {
    const jack_time_t jack = 1000 + 100 * i;
    const std::uint64_t host = 185'000'000 + jack * 1000;
    if (i == 5) {
      clock.measure(host - 100, jack, host + 100);  // 200 ns gap: the best of the block
    } else {
      clock.measure(host - 1000, jack, host + 81'000);  // preempted after the JACK read
    }
  }
  EXPECT_EQ(clock.offsetNanoseconds(), 185'000'000);
  EXPECT_DOUBLE_EQ(clock.hostSeconds(2'000'000), 2.185);

  // The next block follows a clock that drifted by 50 us.
  for (int i = 0; i < JackHostClock::kBlock; ++i) {
    const jack_time_t jack = 10'000 + 100 * i;
    const std::uint64_t host = 185'050'000 + jack * 1000;
    clock.measure(host - 500 - 10 * i, jack, host + 500 + 10 * i);
  }
  EXPECT_EQ(clock.offsetNanoseconds(), 185'050'000);
}

}  // namespace
}  // namespace quillmark
