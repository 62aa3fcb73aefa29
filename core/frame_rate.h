#pragma once
// FrameRate: the closed set of six frame rates Quillmark speaks, with the numbers every other part derives
// from them. The raw value text is what settings store and pickers show, so it never changes.
// Threads: plain values; every function is pure and safe from any thread, and none allocates.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quillmark {

enum class FrameRate { fps23_976, fps24, fps25, fps29_97DF, fps29_97ND, fps30 };

// The six rates in picker order.
inline constexpr std::array<FrameRate, 6> kAllFrameRates = {FrameRate::fps23_976,  FrameRate::fps24,
                                                            FrameRate::fps25,      FrameRate::fps29_97DF,
                                                            FrameRate::fps29_97ND, FrameRate::fps30};

// "23.976", "24", "25", "29.97 DF", "29.97 ND", "30".
constexpr std::string_view rawValue(FrameRate rate) noexcept {
  switch (rate) {
    case FrameRate::fps23_976:
      return "23.976";
    case FrameRate::fps24:
      return "24";
    case FrameRate::fps25:
      return "25";
    case FrameRate::fps29_97DF:
      return "29.97 DF";
    case FrameRate::fps29_97ND:
      return "29.97 ND";
    case FrameRate::fps30:
      return "30";
  }
  return "25";
}

// Exactly the six raw values, case and spacing included; anything else is no rate.
constexpr std::optional<FrameRate> frameRateFromRaw(std::string_view text) noexcept {
  for (FrameRate rate : kAllFrameRates) {
    if (rawValue(rate) == text) return rate;
  }
  return std::nullopt;
}

// Frame labels per second: the frames field runs 0 ... framesPerSecond - 1.
constexpr std::int64_t framesPerSecond(FrameRate rate) noexcept {
  switch (rate) {
    case FrameRate::fps23_976:
    case FrameRate::fps24:
      return 24;
    case FrameRate::fps25:
      return 25;
    case FrameRate::fps29_97DF:
    case FrameRate::fps29_97ND:
    case FrameRate::fps30:
      return 30;
  }
  return 25;
}

// True for the rates that run 1000/1001 slower than their labels.
constexpr bool isPulldown(FrameRate rate) noexcept {
  return rate == FrameRate::fps23_976 || rate == FrameRate::fps29_97DF || rate == FrameRate::fps29_97ND;
}

// True only for 29.97 drop-frame, the one rate that skips labels.
constexpr bool isDropFrame(FrameRate rate) noexcept {
  return rate == FrameRate::fps29_97DF;
}

// Frames of real time per second. The product is formed first (24000.0 / 1001.0) so that every part of the
// program that converts seconds and frames gets the bit-identical value.
constexpr double realFramesPerSecond(FrameRate rate) noexcept {
  const double nominal = static_cast<double>(framesPerSecond(rate));
  return isPulldown(rate) ? (nominal * 1000.0) / 1001.0 : nominal;
}

// Distinct labels in 24 hours. Drop frame loses 2 labels in each of the 1296 minutes not divisible by 10:
// 2592000 - 2 * 1296 = 2589408.
constexpr std::int64_t framesPerDay(FrameRate rate) noexcept {
  return isDropFrame(rate) ? 2589408 : 86400 * framesPerSecond(rate);
}

}  // namespace quillmark
