// SpscQueue between two real threads: nothing lost, duplicated or reordered, and a full queue refuses.
#include "midi/spsc_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace quillmark {
namespace {

TEST(SpscQueue, RefusesWhenFullAndDeliversInOrderAcrossThreads) {
  SpscQueue<std::uint64_t, 8> small;
  for (std::uint64_t i = 0; i < 8; ++i) EXPECT_TRUE(small.tryPush(i));
  EXPECT_FALSE(small.tryPush(8));
  std::uint64_t value = 0;
  ASSERT_TRUE(small.tryPop(value));
  EXPECT_EQ(value, 0u);
  EXPECT_TRUE(small.tryPush(8));

  constexpr std::uint64_t kCount = 200'000;
  SpscQueue<std::uint64_t, 64> queue;
  std::thread producer([&] {
    for (std::uint64_t i = 0; i < kCount;) {
      if (queue.tryPush(i)) ++i;
    }
  });
  std::uint64_t expected = 0;
  bool inOrder = true;
  while (expected < kCount) {
    if (queue.tryPop(value)) inOrder = inOrder && value == expected++;
  }
  producer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_FALSE(queue.tryPop(value));
}

}  // namespace
}  // namespace quillmark
