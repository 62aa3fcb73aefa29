// How many observations the clock takes per second with its window full: the work each received MTC
// quarter frame or LTC frame costs its receiving thread.

#include <benchmark/benchmark.h>

#include "core/timecode_clock.h"

namespace quillmark {
namespace {

// MTC at 30 fps: a quarter frame every 1/120 s, so the one-second window holds 121 points.
constexpr double kQuarter = 1.0 / 120.0;

void BM_ObserveFullMtcWindow(benchmark::State& state) {
  TimecodeClock clock;
  long k = 0;
  auto observeNext = [&] {
    clock.observe(108000.0 + 0.25 * static_cast<double>(k), 1000.0 + static_cast<double>(k) * kQuarter,
                  FrameRate::fps30);
    ++k;
  };
  for (int i = 0; i < 240; ++i) observeNext();
  for (auto _ : state) {
    observeNext();
    benchmark::DoNotOptimize(clock.fit);
  }
  state.counters["points"] = static_cast<double>(clock.points.size());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ObserveFullMtcWindow);

}  // namespace
}  // namespace quillmark
