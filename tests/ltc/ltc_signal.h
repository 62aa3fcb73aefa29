#pragma once
// Test helpers: LTC signals made by the encoder or bit by bit, and a decoder run that collects every frame.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/frame_rate.h"
#include "ltc/ltc_decoder.h"
#include "ltc/ltc_encoder.h"
#include "ltc/ltc_frame.h"

namespace quillmark::test {

enum class Glide { linear, exponential };

// `seconds` of code at `rate` from absolute frame `startFrame`, whose play speed glides from `fromSpeed` to
// `toSpeed`, linearly or by a constant ratio per second, changing every 64 samples (the way an output
// following a ramping clock renders it); at one speed, rendered in one piece.
inline std::vector<float> renderGlide(FrameRate rate, double sampleRate, double startFrame, double seconds,
                                      double fromSpeed, double toSpeed, std::uint32_t userBits = 0,
                                      Glide shape = Glide::linear) {
  LTCEncoder encoder(sampleRate);
  encoder.setRate(rate);
  encoder.setUserBits(userBits);
  std::vector<float> out(static_cast<std::size_t>(std::llround(seconds * sampleRate)));
  const std::size_t piece = fromSpeed == toSpeed ? out.size() : 64;
  double position = startFrame;
  for (std::size_t at = 0; at < out.size(); at += piece) {
    const auto count = static_cast<std::int64_t>(std::min(piece, out.size() - at));
    const double along = static_cast<double>(at) / static_cast<double>(out.size());
    const double speed = shape == Glide::linear ? fromSpeed + (toSpeed - fromSpeed) * along
                                                : fromSpeed * std::pow(toSpeed / fromSpeed, along);
    const double step = realFramesPerSecond(rate) * speed / sampleRate;
    encoder.render(&out[at], count, position, step);
    position += static_cast<double>(count) * step;
  }
  return out;
}

inline std::vector<float> renderCode(FrameRate rate, double sampleRate, double startFrame, double seconds,
                                     double speed = 1.0, std::uint32_t userBits = 0) {
  return renderGlide(rate, sampleRate, startFrame, seconds, speed, speed, userBits);
}

// Transition positions (in samples) of a plain biphase-mark signal of whole 80-bit words: data bits then
// the sync word, each bit `samplesPerBit` long, after one bit of lead-in.
inline std::vector<double> biphaseEdges(const std::vector<std::uint64_t>& words, double samplesPerBit) {
  std::vector<double> edges;
  double t = samplesPerBit;
  for (std::uint64_t word : words) {
    for (int k = 0; k < 80; ++k, t += samplesPerBit) {
      edges.push_back(t);
      if (k < 64 ? (word >> k) & 1u : kSyncWord[k - 64]) edges.push_back(t + samplesPerBit / 2);
    }
  }
  edges.push_back(t);
  return edges;
}

// A +-0.5 square wave that starts low and flips at every edge, with some settling after the last.
inline std::vector<float> squareWave(const std::vector<double>& edges) {
  std::vector<float> out(static_cast<std::size_t>(edges.back() + 64));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto flips = std::upper_bound(edges.begin(), edges.end(), static_cast<double>(i)) - edges.begin();
    out[i] = flips % 2 ? 0.5f : -0.5f;
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
