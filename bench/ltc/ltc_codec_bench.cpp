// Throughput of the LTC codec on one thread, in samples per second, on 48 kHz 25 fps code.
//   BM_LTCDecoderProcess/N  -- decode a ten-second loop of clean code in buffers of N samples
//   BM_LTCEncoderRender/N   -- render code at play speed in buffers of N samples
// Build with optimisation (the default RelWithDebInfo or Release); a Debug build reports nothing useful.
// One hour of 48 kHz audio is 172.8 million samples.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "core/frame_rate.h"
#include "ltc/ltc_decoder.h"
#include "ltc/ltc_encoder.h"

namespace {

constexpr double kSampleRate = 48000;

std::vector<float> tenSecondsOfCode() {
  quillmark::LTCEncoder encoder(kSampleRate);
  std::vector<float> code(static_cast<std::size_t>(10 * kSampleRate));
  encoder.render(code.data(), static_cast<std::int64_t>(code.size()), 90000, 25.0 / kSampleRate);
  return code;
}

void BM_LTCDecoderProcess(benchmark::State& state) {
  const auto period = state.range(0);
  const std::vector<float> code = tenSecondsOfCode();
  const auto length = static_cast<std::int64_t>(code.size());
  quillmark::LTCDecoder decoder(kSampleRate);
  std::int64_t position = 0;
  std::int64_t frames = 0;
  for (auto _ : state) {
    const std::int64_t at = position % (length - period);
    decoder.process(code.data() + at, period, position,
                    [&](const quillmark::LTCDecoder::Frame&) { ++frames; });
    position += period;
  }
  benchmark::DoNotOptimize(frames);
  state.SetItemsProcessed(state.iterations() * period);
  state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_LTCDecoderProcess)->Arg(256)->Arg(1024)->Arg(65536);

void BM_LTCEncoderRender(benchmark::State& state) {
  const auto period = state.range(0);
  std::vector<float> out(static_cast<std::size_t>(period));
  quillmark::LTCEncoder encoder(kSampleRate);
  const double step = 25.0 / kSampleRate;
  double position = 90000;
  for (auto _ : state) {
    encoder.render(out.data(), period, position, step);
    benchmark::DoNotOptimize(out.data());
    position += static_cast<double>(period) * step;
  }
  state.SetItemsProcessed(state.iterations() * period);
}
BENCHMARK(BM_LTCEncoderRender)->Arg(256)->Arg(1024)->Arg(65536);

}  // namespace
