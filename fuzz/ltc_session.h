#pragma once
// The layout of an LTC decoder fuzzing session, shared by the fuzz target and the seed maker so that the
// committed seeds stay readable by the target:
//   byte 0        sample rate, an index into kSampleRates (taken modulo its size)
//   bytes 1..4    absolute index of the first sample / 4096 (little-endian), so positions reach 2^44
//   then, repeated until the input ends:
//     2 bytes     buffer length in samples (little-endian, modulo kMaxBuffer + 1; 0 is a valid buffer)
//     4 x length  the samples as raw 32-bit floats (any bit pattern: NaN, infinities, denormals)
// A last buffer cut short by the end of the input holds only the samples that are complete.
// Threads: constants only.

#include <array>
#include <cstdint>

namespace quillmark::fuzz {

inline constexpr std::array<double, 8> kSampleRates = {48000, 44100, 96000, 16000,
                                                       22050, 32000, 88200, 192000};
inline constexpr std::uint16_t kMaxBuffer = 8192;
inline constexpr std::int64_t kStartSampleUnit = 4096;

}  // namespace quillmark::fuzz
