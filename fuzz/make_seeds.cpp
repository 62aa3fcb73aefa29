// Writes the LTC decoder's seed corpus: code made by the encoder (forward, backward, at several rates,
// with a NaN and with silence). A fuzzer cannot stumble on a readable LTC signal by mutating bytes, so
// these seeds are what lets it reach the decoder's framing at all. The other targets' seeds are a few
// bytes of message or text each, committed as they are (fuzz/corpus/), and their fuzzers find the
// headers they compare against on their own. Run once by hand after a change of the session layout in
// fuzz/ltc_session.h: make_seeds fuzz/corpus/ltc_decoder_fuzz. The seeds are committed.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "core/timecode.h"
#include "fuzz/ltc_session.h"
#include "ltc/ltc_encoder.h"

using namespace quillmark;
using namespace quillmark::fuzz;

namespace {

namespace fs = std::filesystem;

std::vector<float> encode(double sampleRate, FrameRate rate, const Timecode& from, int frames) {
  LTCEncoder encoder(sampleRate);
  encoder.setRate(rate);
  const double samplesPerFrame = sampleRate / realFramesPerSecond(rate);
  std::vector<float> samples(static_cast<std::size_t>(std::ceil(samplesPerFrame * frames)));
  encoder.render(samples.data(), static_cast<std::int64_t>(samples.size()), from.frameNumber(rate),
                 1.0 / samplesPerFrame);
  return samples;
}

// Writes `samples` at `sampleRate` as one session in buffers of `bufferLength` samples.
void write(const fs::path& path, double sampleRate, const std::vector<float>& samples,
           std::uint16_t bufferLength) {
  std::ofstream out(path, std::ios::binary);
  const auto put = [&out](auto value) { out.write(reinterpret_cast<const char*>(&value), sizeof value); };
  put(static_cast<std::uint8_t>(std::find(kSampleRates.begin(), kSampleRates.end(), sampleRate) -
                                kSampleRates.begin()));
  put(std::uint32_t{12345});
  for (std::size_t at = 0; at < samples.size(); at += bufferLength) {
    const std::size_t n = std::min<std::size_t>(bufferLength, samples.size() - at);
    put(static_cast<std::uint16_t>(n));
    out.write(reinterpret_cast<const char*>(&samples[at]), static_cast<std::streamsize>(n * sizeof(float)));
  }
}

void ltcSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  write(dir / "forward_25_16k", 16000, encode(16000, FrameRate::fps25, {10, 0, 0, 0}, 4), 256);
  write(dir / "drop_frame_minute_22k", 22050, encode(22050, FrameRate::fps29_97DF, {0, 0, 59, 28}, 4), 100);
  std::vector<float> backward = encode(16000, FrameRate::fps24, {1, 2, 3, 4}, 5);
  std::reverse(backward.begin(), backward.end());
  write(dir / "reverse_24_16k", 16000, backward, 1000);
  std::vector<float> broken = encode(16000, FrameRate::fps30, {23, 59, 59, 26}, 8);
  broken[700] = std::numeric_limits<float>::quiet_NaN();
  broken[1300] = std::numeric_limits<float>::infinity();
  write(dir / "non_finite_30_16k", 16000, broken, 333);
  std::vector<float> gap = encode(16000, FrameRate::fps23_976, {0, 0, 0, 0}, 4);
  std::fill(gap.begin() + 500, gap.begin() + 900, 0.0f);
  write(dir / "silence_gap_23976_16k", 16000, gap, 64);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <directory for the LTC decoder seeds>\n");
    return 2;
  }
  ltcSeeds(argv[1]);
  return 0;
}
