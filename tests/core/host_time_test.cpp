#include "core/host_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "core/locked.h"

namespace quillmark {
namespace {

TEST(HostTime, TicksAndSecondsAreInverseAndNeverUndefined) {
  EXPECT_EQ(HostTime::ticks(-1.0), 0u);
  EXPECT_EQ(HostTime::ticks(std::nan("")), 0u);
  EXPECT_EQ(HostTime::ticks(1e30), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(HostTime::ticks(1.5), 1500000000u);
  EXPECT_NEAR(HostTime::seconds(HostTime::ticks(12345.678901)), 12345.678901, 1e-9);
  // now, the tick reading and waitUntil share one clock: a wait for a passed instant returns at once and
  // a wait for a near one does not return early.
  const std::uint64_t target = HostTime::nowTicks() + 2000000;
  HostTime::waitUntil(0);
  HostTime::waitUntil(target);
  EXPECT_GE(HostTime::nowTicks(), target);
  EXPECT_GE(HostTime::now(), HostTime::seconds(target));
}

TEST(Locked, EachClosureRunsAloneOnTheValueInPlace) {
  Locked<long> counter(0);
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) counter.withLock([](long& value) { value += 1; });
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(counter.read(), 40000);
  EXPECT_EQ(counter.withLock([](long& value) { return value * 2; }), 80000);
}

}  // namespace
}  // namespace quillmark
