// What the engine's reception costs the audio input thread, alone and while the status refresh reads the
// engine, and what that read costs the main thread. Items are LTC frames taken, or status reads.
// BM_ReceiveLTC: one 25 fps frame (rate detection, clock observation, last frame, counters).
// BM_ReceiveLTCWhileRefreshing: the same while another thread reads the status without pause, so the lock
//   the two share is contended all the time (the application reads it 30 times a second); what it shows
//   is how long the receiving thread waits for the reader's critical sections.
// BM_ReadStatus: the refresh's locked part, the snapshot and the reception stats.
// Build with optimisation (RelWithDebInfo or Release); the figures of an unoptimised build mean nothing.

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "engine/timecode_engine_core.h"

namespace quillmark {
namespace {

constexpr double kFrame = 1.0 / 25.0;

// Hands the engine the next of a run of 25 fps frames; `n` counts the frames handed so far.
void receiveNext(TimecodeEngineCore& engine, std::int64_t& n) {
  LTCFrame frame;
  frame.timecode = Timecode::fromFrame(90000 + n, FrameRate::fps25);
  engine.receiveLTC(frame, 1000.0 + static_cast<double>(n) * kFrame, kFrame, false);
  ++n;
}

void readStatus(TimecodeEngineCore& engine, double now) {
  benchmark::DoNotOptimize(engine.snapshot(now));
  benchmark::DoNotOptimize(engine.stats());
}

void BM_ReceiveLTC(benchmark::State& state) {
  TimecodeEngineCore engine;
  std::int64_t n = 0;
  while (n < 50) receiveNext(engine, n);  // a full window
  for (auto _ : state) receiveNext(engine, n);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveLTC);

void BM_ReceiveLTCWhileRefreshing(benchmark::State& state) {
  TimecodeEngineCore engine;
  std::int64_t n = 0;
  while (n < 50) receiveNext(engine, n);
  std::atomic<bool> stop{false};
  std::thread refresh([&] {
    while (!stop.load(std::memory_order_relaxed)) readStatus(engine, 1001.0);
  });
  for (auto _ : state) receiveNext(engine, n);
  stop.store(true);
  refresh.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveLTCWhileRefreshing)->UseRealTime();

void BM_ReadStatus(benchmark::State& state) {
  TimecodeEngineCore engine;
  std::int64_t n = 0;
  while (n < 50) receiveNext(engine, n);
  for (auto _ : state) readStatus(engine, 1001.0);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadStatus);

}  // namespace
}  // namespace quillmark
