// Throughput of the MTC decoder in bytes per second: what one MIDI receive thread can absorb. A running
// source sends about 25 quarter frames (50 bytes) per frame period, so the decoder's budget is tiny; this
// shows how much headroom there is, and what a flood of timing clock bytes or full frames costs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <span>
#include <vector>

#include "midi/mtc.h"
#include "midi/mtc_decoder.h"

namespace quillmark {
namespace {

// 4000 quarter frames (1000 frames) at 25 fps, optionally with a timing clock byte before each message.
std::vector<std::uint8_t> quarterFrameStream(bool withTimingClock) {
  std::vector<std::uint8_t> stream;
  for (std::int64_t index = 4 * 90000; index < 4 * 90000 + 4000; ++index) {
    if (withTimingClock) stream.push_back(0xF8);
    const auto message = MTC::quarterFrame(index, FrameRate::fps25);
    stream.insert(stream.end(), message.begin(), message.end());
  }
  return stream;
}

std::vector<std::uint8_t> fullFrameStream() {
  std::vector<std::uint8_t> stream;
  for (std::int64_t frame = 0; frame < 1000; ++frame) {
    const auto message = MTC::fullFrame(Timecode::fromFrame(frame, FrameRate::fps30), FrameRate::fps30);
    stream.insert(stream.end(), message.begin(), message.end());
  }
  return stream;
}

// `packetSize` bytes per feed call: 2 is one quarter frame per MIDI packet, as a live source delivers them.
void decode(benchmark::State& state, const std::vector<std::uint8_t>& stream, std::size_t packetSize) {
  MTCDecoder decoder;
  std::int64_t events = 0;
  double time = 0.0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += packetSize) {
      const std::size_t n = std::min(packetSize, stream.size() - at);
      decoder.feed(std::span(stream.data() + at, n), time, [&](const MTCDecoder::Event&) { ++events; });
      time += 0.0025;
    }
  }
  benchmark::DoNotOptimize(events);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  state.counters["events"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}

void BM_QuarterFramesPerPacket(benchmark::State& state) {
  static const auto stream = quarterFrameStream(false);
  decode(state, stream, 2);
}
void BM_QuarterFramesOnePacket(benchmark::State& state) {
  static const auto stream = quarterFrameStream(false);
  decode(state, stream, stream.size());
}
void BM_QuarterFramesWithTimingClock(benchmark::State& state) {
  static const auto stream = quarterFrameStream(true);
  decode(state, stream, 3);
}
void BM_FullFrames(benchmark::State& state) {
  static const auto stream = fullFrameStream();
  decode(state, stream, 10);
}

BENCHMARK(BM_QuarterFramesPerPacket);
BENCHMARK(BM_QuarterFramesOnePacket);
BENCHMARK(BM_QuarterFramesWithTimingClock);
BENCHMARK(BM_FullFrames);

}  // namespace
}  // namespace quillmark
