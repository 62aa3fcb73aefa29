// Holds the decoder to a committed record of what it reported for a set of varied signals inside 19-38
// frames per second of real rate: clean at every rate and sample rate, noisy down to 6 dB SNR, clipped,
// low-passed, with DC, inverted, with dropouts, a spike or a run of samples that are not numbers, too faint
// to read, forwards and backwards.
// Widening the speed range the decoder reads must not change a single frame there: every line of the record
// is a frame's start and length in samples, label, direction and user bits. On a mismatch the test names the
// signal and the frame and writes what it got beside the record (ltc_decoder_record.txt.actual).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "tests/ltc/ltc_signal.h"

namespace quillmark::test {
namespace {

struct RecordedSignal {
  const char* name;
  FrameRate rate;
  double sampleRate;
  double speed = 1.0;
  double endSpeed = 0;  // when set, the speed glides linearly from `speed` to this
  bool reversed = false;
  double snrDb = 0;      // white noise at this SNR against the code's RMS; 0 = none
  float gain = 1.0f;     // negative inverts
  float clip = 0;        // hard clip at this level after the gain; 0 = none
  double lowpassHz = 0;  // one-pole low-pass; 0 = none
  float dc = 0;
  double dropoutAt = 0;      // seconds: silence (or noise only) from here ...
  double dropoutLength = 0;  // ... for this long
  unsigned seed = 1;
  double spikeAt = 0;      // seconds: three samples flipped against the signal from here; 0 = none
  float dropoutValue = 0;  // what the dropout holds instead of silence: NaN or an infinity
};

constexpr auto k24 = FrameRate::fps24, k25 = FrameRate::fps25, k30 = FrameRate::fps30;
constexpr auto k2397 = FrameRate::fps23_976, kDF = FrameRate::fps29_97DF, kND = FrameRate::fps29_97ND;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

// Name, rate, sample rate, speed, end speed, reversed, SNR, gain, clip, low-pass, DC, dropout at/for, seed,
// spike, dropout value.
const RecordedSignal kSignals[] = {
    {"clean 23.976 44.1k", k2397, 44100},
    {"clean 24 48k", k24, 48000},
    {"clean 25 96k", k25, 96000},
    {"clean 29.97DF 44.1k reversed", kDF, 44100, 1, 0, true},
    {"clean 29.97ND 48k", kND, 48000},
    {"clean 30 96k reversed", k30, 96000, 1, 0, true},
    {"clean 25 44.1k reversed", k25, 44100, 1, 0, true},
    {"clean 30 48k", k30, 48000},
    {"24 at 0.8 (19.2 fps) 44.1k", k24, 44100, 0.8},
    {"29.97 at 1.26 (37.8 fps) 48k", kDF, 48000, 1.26},
    {"25 at 1.5 (37.5 fps) 96k reversed", k25, 96000, 1.5, 0, true},
    {"30 at 0.65 (19.5 fps) 48k reversed", k30, 48000, 0.65, 0, true},
    {"24 gliding 0.8 to 1.55 48k", k24, 48000, 0.8, 1.55},
    {"noise 20 dB 25 48k", k25, 48000, 1, 0, false, 20, 1, 0, 0, 0, 0, 0, 11},
    {"noise 12 dB 30 44.1k", k30, 44100, 1, 0, false, 12, 1, 0, 0, 0, 0, 0, 12},
    {"noise 10 dB 25 48k", k25, 48000, 1, 0, false, 10, 1, 0, 0, 0, 0, 0, 13},
    {"noise 10 dB 29.97DF 96k reversed", kDF, 96000, 1, 0, true, 10, 1, 0, 0, 0, 0, 0, 14},
    {"noise 8 dB 24 48k", k24, 48000, 1, 0, false, 8, 1, 0, 0, 0, 0, 0, 15},
    {"noise 6 dB 25 48k", k25, 48000, 1, 0, false, 6, 1, 0, 0, 0, 0, 0, 16},
    {"noise 6 dB 30 44.1k reversed", k30, 44100, 1, 0, true, 6, 1, 0, 0, 0, 0, 0, 17},
    {"noise 6 dB 23.976 96k at 1.2", k2397, 96000, 1.2, 0, false, 6, 1, 0, 0, 0, 0, 0, 18},
    {"clipped hard 25 48k", k25, 48000, 1, 0, false, 0, 8, 0.5f},
    {"clipped with noise 12 dB 30 48k", k30, 48000, 1, 0, false, 12, 4, 0.6f, 0, 0, 0, 0, 19},
    {"low-passed 2 kHz 25 44.1k", k25, 44100, 1, 0, false, 0, 1, 0, 2000},
    {"low-passed 1.2 kHz 30 48k noise 20 dB", k30, 48000, 1, 0, false, 20, 1, 0, 1200, 0, 0, 0, 20},
    {"low-passed 4 kHz 24 96k reversed", k24, 96000, 1, 0, true, 0, 1, 0, 4000},
    {"DC 0.3 25 48k", k25, 48000, 1, 0, false, 0, 1, 0, 0, 0.3f},
    {"DC -0.4 noise 10 dB 29.97ND 44.1k", kND, 44100, 1, 0, false, 10, 1, 0, 0, -0.4f, 0, 0, 21},
    {"inverted 30 48k", k30, 48000, 1, 0, false, 0, -1},
    {"inverted reversed noise 12 dB 25 96k", k25, 96000, 1, 0, true, 12, -0.7f, 0, 0, 0, 0, 0, 22},
    {"dropout 0.3 s silent 25 48k", k25, 48000, 1, 0, false, 0, 1, 0, 0, 0, 0.7, 0.3},
    {"dropout 8 ms 30 44.1k", k30, 44100, 1, 0, false, 0, 1, 0, 0, 0, 0.9, 0.008},
    {"dropout 0.2 s in noise 20 dB 24 48k", k24, 48000, 1, 0, false, 20, 1, 0, 0, 0, 0.6, 0.2, 23},
    {"dropout 40 ms reversed 29.97DF 48k", kDF, 48000, 1, 0, true, 0, 1, 0, 0, 0, 1.1, 0.04},
    {"spike of 3 samples mid-cell 25 48k", k25, 48000, 1, 0, false, 0, 1, 0, 0, 0, 0, 0, 1, 0.8053},
    {"faint 25 48k, edges under the silence gate", k25, 48000, 1, 0, false, 0, 0.002f},
    {"100 samples of NaN 25 48k", k25, 48000, 1, 0, false, 0, 1, 0, 0, 0, 0.4146, 0.0021, 24, 0, kNaN},
    {"100 samples of +inf 30 44.1k", k30, 44100, 1, 0, false, 0, 1, 0, 0, 0, 0.9, 0.00227, 25, 0, kInf},
    {"100 samples of -inf reversed 29.97DF 96k", kDF, 96000, 1, 0, true, 0, 1, 0, 0, 0, 1.3, 0.00105, 26, 0,
     -kInf},
};

constexpr double kSeconds = 2.0;

// Gaussian white noise of the given RMS from a seeded generator. Box-Muller by hand: the standard
// library's normal distribution is not the same sequence in every implementation.
std::vector<float> whiteNoise(std::size_t count, double rms, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<float> out(count);
  const double scale = 1.0 / (static_cast<double>(std::mt19937::max()) + 1.0);
  for (std::size_t i = 0; i < count; i += 2) {
    const double u1 = (static_cast<double>(random()) + 1.0) * scale;
    const double u2 = static_cast<double>(random()) * scale;
    const double r = rms * std::sqrt(-2.0 * std::log(u1));
    out[i] = static_cast<float>(r * std::cos(2 * std::numbers::pi * u2));
    if (i + 1 < count) out[i + 1] = static_cast<float>(r * std::sin(2 * std::numbers::pi * u2));
  }
  return out;
}

std::vector<float> build(const RecordedSignal& s) {
  std::vector<float> x;
  if (s.endSpeed > 0) {
    x = renderGlide(s.rate, s.sampleRate, 3600.0 * 25, kSeconds, s.speed, s.endSpeed, 0x12345678u);
  } else {
    x = renderCode(s.rate, s.sampleRate, 3600.0 * realFramesPerSecond(s.rate) + 0.37, kSeconds, s.speed,
                   0xC0DE0000u + s.seed);
  }
  if (s.lowpassHz > 0) {
    const double a = 1.0 - std::exp(-2 * std::numbers::pi * s.lowpassHz / s.sampleRate);
    double state = 0;
    for (float& v : x) v = static_cast<float>(state += a * (v - state));
  }
  for (float& v : x) {
    v *= s.gain;
    if (s.clip > 0) v = std::clamp(v, -s.clip, s.clip);
  }
  if (s.spikeAt > 0) {
    const auto at = static_cast<std::size_t>(s.spikeAt * s.sampleRate);
    for (std::size_t i = at; i < at + 3; ++i) x[i] = -x[i];
  }
  if (s.dropoutLength > 0) {
    const auto from = static_cast<std::size_t>(s.dropoutAt * s.sampleRate);
    const auto to = std::min(x.size(), from + static_cast<std::size_t>(s.dropoutLength * s.sampleRate));
    std::fill(x.begin() + static_cast<std::ptrdiff_t>(from), x.begin() + static_cast<std::ptrdiff_t>(to),
              s.dropoutValue);
  }
  if (s.snrDb > 0) {
    const std::vector<float> noise = whiteNoise(x.size(), 0.5 * std::pow(10.0, -s.snrDb / 20), s.seed);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += noise[i];
  }
  for (float& v : x) v += s.dc;
  if (s.reversed) std::reverse(x.begin(), x.end());
  return x;
}

// One line per frame: start and length in samples, label, direction, user bits; then the error count.
std::vector<std::string> report(const RecordedSignal& s) {
  LTCDecoder decoder(s.sampleRate);
  // Odd buffer sizes, so frames and edges straddle buffer boundaries differently in every signal.
  const std::int64_t buffer = 97 + 131 * static_cast<std::int64_t>(s.seed % 7);
  std::vector<std::string> lines;
  for (const auto& f : decodeAll(decoder, build(s), buffer, 1000)) {
    char line[96];
    std::snprintf(line, sizeof line, "%.6f %.6f %s %c %08X", f.start, f.length,
                  f.frame.timecode.text(f.frame.dropFrame).c_str(), f.reverse ? 'R' : 'F', f.frame.userBits);
    lines.emplace_back(line);
  }
  lines.push_back("errors " + std::to_string(decoder.errors()));
  EXPECT_TRUE(std::isfinite(decoder.level())) << s.name;  // a meter shows it, whatever came in
  return lines;
}

TEST(LTCDecoderRecord, ReportsExactlyWhatTheRecordHoldsForEverySignalInsideTheHomeRange) {
  const std::string path = QM_LTC_DECODER_RECORD;
  std::ifstream in(path);
  std::vector<std::string> recorded;
  for (std::string line; std::getline(in, line);) recorded.push_back(line);

  std::vector<std::string> actual;
  for (const RecordedSignal& s : kSignals) {
    actual.push_back(std::string("# ") + s.name);
    const std::vector<std::string> got = report(s);
    actual.insert(actual.end(), got.begin(), got.end());
  }
  const auto [mine, theirs] = std::mismatch(actual.begin(), actual.end(), recorded.begin(), recorded.end());
  if (mine != actual.end() || theirs != recorded.end()) {
    std::string signal = "none";
    for (auto line = actual.begin(); line < mine; ++line)
      if (line->starts_with("# ")) signal = line->substr(2);
    ADD_FAILURE() << "signal \"" << signal << "\", record line " << theirs - recorded.begin() + 1
                  << ": the decoder gave \"" << (mine != actual.end() ? *mine : "nothing")
                  << "\", the record says \"" << (theirs != recorded.end() ? *theirs : "nothing") << "\"";
    std::ofstream out(path + ".actual");
    for (const std::string& line : actual) out << line << '\n';
  }
  // A record that lost its frames would compare equal to a decoder that lost them too.
  EXPECT_GT(recorded.size(), 1500u);
}

}  // namespace
}  // namespace quillmark::test
