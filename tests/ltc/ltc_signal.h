#pragma once
// Test helpers: LTC signals made by the encoder or bit by bit, and a decoder run that collects every frame.

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/frame_rate.h"
#include "ltc/ltc_decoder.h"
#include "ltc/ltc_encoder.h"
#include "ltc/ltc_frame.h"

namespace quillmark::test {

// `seconds` of code at `rate` from absolute frame `startFrame`, at play speed `speed`.
inline std::vector<float> renderCode(FrameRate rate, double sampleRate, double startFrame, double seconds,
                                     double speed = 1.0, std::uint32_t userBits = 0) {
  LTCEncoder encoder(sampleRate);
  encoder.setRate(rate);
  encoder.setUserBits(userBits);
  std::vector<float> out(static_cast<std::size_t>(std::llround(seconds * sampleRate)));
  encoder.render(out.data(), static_cast<std::int64_t>(out.size()), startFrame,
                 realFramesPerSecond(rate) * speed / sampleRate);
  return out;
}

// Transition positions (in samples) of a plain biphase-mark signal of whole 80-bit words: data bits then
// the sync word, each bit `samplesPerBit` long, after one bit of lead-in.
inline std::vector<double> biphaseEdges(const std::vector<std::uint64_t>& words, double samplesPerBit) {
  std::vector<double> edges;
  double t = samplesPerBit;
  for (std::uint64_t word : words) {
    for (int k = 0; k < 80; ++k) {
      const bool one = k < 64 ? ((word >> k) & 1u) != 0 : kSyncWord[k - 64] != 0;
      edges.push_back(t);
      if (one) edges.push_back(t + samplesPerBit / 2);
      t += samplesPerBit;
    }
  }
  edges.push_back(t);
  return edges;
}

// A +-amplitude square wave that starts low and flips at every edge, with some settling after the last.
inline std::vector<float> squareWave(const std::vector<double>& edges, float amplitude = 0.5f) {
  std::vector<float> out(static_cast<std::size_t>(edges.back() + 64));
  std::size_t next = 0;
  float value = -amplitude;
  for (std::size_t i = 0; i < out.size(); ++i) {
    while (next < edges.size() && edges[next] <= static_cast<double>(i)) {
      value = -value;
      ++next;
    }
    out[i] = value;
  }
  return out;
}

// Decodes `samples` in buffers of `buffer` samples and returns every frame found.
inline std::vector<LTCDecoder::Frame> decodeAll(LTCDecoder& decoder, const std::vector<float>& samples,
                                                std::int64_t buffer = 1024, std::int64_t firstSample = 0) {
  std::vector<LTCDecoder::Frame> frames;
  const auto n = static_cast<std::int64_t>(samples.size());
  for (std::int64_t at = 0; at < n; at += buffer) {
    decoder.process(samples.data() + at, std::min(buffer, n - at), firstSample + at,
                    [&](const LTCDecoder::Frame& f) { frames.push_back(f); });
  }
  return frames;
}

inline std::vector<LTCDecoder::Frame> decodeAll(double sampleRate, const std::vector<float>& samples) {
  LTCDecoder decoder(sampleRate);
  return decodeAll(decoder, samples);
}

}  // namespace quillmark::test
