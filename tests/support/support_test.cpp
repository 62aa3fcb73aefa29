// The allocation counter itself: every allocation-free proof passes vacuously if it stops seeing
// allocations. (The JACK server and the test clients are proven by every JACK suite that uses them; the
// server's loss and return by the JackClient, store and fault tests.)
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/alloc_counter.h"

namespace quillmark::test {
namespace {

TEST(AllocCounter, CountsOnlyAllocationsOfMarkedThreads) {
  if (!allocationCountingAvailable()) GTEST_SKIP() << "sanitizer build keeps its own allocator";
  resetRealtimeAllocations();
  auto unmarked = std::make_unique<int>(1);
  EXPECT_EQ(realtimeAllocations(), 0u);
  {
    RealtimeScope scope;
    auto marked = std::make_unique<int>(2);
    EXPECT_EQ(realtimeAllocations(), 1u);
    auto array = std::make_unique<int[]>(64);
    EXPECT_EQ(realtimeAllocations(), 2u) << "an array allocation went uncounted";
  }
  auto after = std::make_unique<int>(3);
  EXPECT_EQ(realtimeAllocations(), 2u);
}

}  // namespace
}  // namespace quillmark::test
