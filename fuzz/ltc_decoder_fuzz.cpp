// Feeds arbitrary float samples, non-finite ones included, to an LTCDecoder in buffers of arbitrary
// lengths (the session layout is in fuzz/ltc_session.h) and checks what a caller relies on: every
// reported frame has valid digits, a finite start inside the samples fed so far and a positive finite
// length; the level stays a finite non-negative number and the error count never falls.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/ltc_session.h"
#include "ltc/ltc_decoder.h"

using namespace quillmark;
using namespace quillmark::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const double sampleRate = kSampleRates[input.take<std::uint8_t>() % kSampleRates.size()];
  const std::int64_t firstSample = static_cast<std::int64_t>(input.take<std::uint32_t>()) * kStartSampleUnit;

  LTCDecoder decoder(sampleRate);
  static std::vector<float> buffer(kMaxBuffer);
  std::int64_t startSample = firstSample;
  std::int64_t lastErrors = 0;
  while (!input.empty()) {
    const std::int64_t wanted = input.take<std::uint16_t>() % (kMaxBuffer + 1);
    const std::int64_t available = static_cast<std::int64_t>(input.remaining() / sizeof(float));
    const std::int64_t count = wanted < available ? wanted : available;
    const auto raw = input.bytes(static_cast<std::size_t>(count) * sizeof(float));
    if (!raw.empty()) std::memcpy(buffer.data(), raw.data(), raw.size());

    const std::int64_t end = startSample + count;
    decoder.process(buffer.data(), count, startSample, [&](const LTCDecoder::Frame& found) {
      const Timecode& tc = found.frame.timecode;
      FUZZ_CHECK(found.frame.hasValidDigits);
      FUZZ_CHECK(tc.hours >= 0 && tc.hours <= 23 && tc.minutes >= 0 && tc.minutes <= 59);
      FUZZ_CHECK(tc.seconds >= 0 && tc.seconds <= 59 && tc.frames >= 0 && tc.frames <= 29);
      FUZZ_CHECK(std::isfinite(found.start) && std::isfinite(found.length));
      FUZZ_CHECK(found.length > 0);
      // A crossing is interpolated between a sample and the one before it, so a frame can begin at most
      // one sample before the first sample ever fed, and never after the last.
      FUZZ_CHECK(found.start >= static_cast<double>(firstSample) - 1.0);
      FUZZ_CHECK(found.start <= static_cast<double>(end));
    });
    FUZZ_CHECK(std::isfinite(decoder.level()) && decoder.level() >= 0);
    FUZZ_CHECK(decoder.errors() >= lastErrors);
    lastErrors = decoder.errors();
    startSample = end;
  }
  return 0;
}
