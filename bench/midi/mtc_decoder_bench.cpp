// Throughput of the MTC decoder in bytes per second: what one MIDI receive thread can absorb. A running
// source sends four quarter frames (8 bytes) per frame period, one per MIDI packet; this shows how much
// headroom there is.

#include <benchmark/benchmark.h>

#include <span>
#include <vector>

#include "midi/mtc.h"
#include "midi/mtc_decoder.h"

namespace quillmark {
namespace {

// 4000 quarter frames (1000 frames) at 25 fps, fed one quarter frame per call as a live source delivers
// them.
void BM_QuarterFramesPerPacket(benchmark::State& state) {
  std::vector<std::uint8_t> stream;
  for (std::int64_t index = 4 * 90000; index < 4 * 90000 + 4000; ++index) {
    const auto message = MTC::quarterFrame(index, FrameRate::fps25);
    stream.insert(stream.end(), message.begin(), message.end());
  }
  MTCDecoder decoder;
  std::int64_t events = 0;
  double time = 0.0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += 2) {
      decoder.feed(std::span(stream.data() + at, 2), time, [&](const MTCDecoder::Event&) { ++events; });
      time += 0.0025;
    }
  }
  benchmark::DoNotOptimize(events);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  state.counters["events"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QuarterFramesPerPacket);

}  // namespace
}  // namespace quillmark
