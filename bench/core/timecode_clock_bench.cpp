// How many observations the clock takes per second with its window full, and how cheap reading it is.

#include <benchmark/benchmark.h>

#include "core/clock_snapshot.h"
#include "core/generator.h"
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

void BM_SnapshotAndPosition(benchmark::State& state) {
  TimecodeClock clock;
  for (int k = 0; k < 240; ++k) clock.observe(108000.0 + 0.25 * k, 1000.0 + k * kQuarter, FrameRate::fps30);
  double at = 1000.0 + 239 * kQuarter;
  for (auto _ : state) {
    const ClockSnapshot snap = clock.snapshot();
    benchmark::DoNotOptimize(snap.position(at));
    benchmark::DoNotOptimize(snap.state(at));
    at += 1e-6;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnapshotAndPosition);

void BM_GeneratorTimeOfDaySnapshot(benchmark::State& state) {
  Generator generator;
  generator.timeOfDay = true;
  double at = 1000.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(generator.snapshot(at));
    at += 1e-3;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GeneratorTimeOfDaySnapshot);

}  // namespace
}  // namespace quillmark
