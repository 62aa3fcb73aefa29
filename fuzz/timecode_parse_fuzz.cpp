// Parses arbitrary text as a typed label and takes the result through everything a caller may do with
// it, at every rate: frameNumber (which must not overflow, however absurd the fields), isValid, both
// text forms, and fromFrame. A label valid at a rate must survive the round trips a user sees: count and
// back, text and back. The first eight bytes also make an arbitrary frame count, whose label must be
// valid and must count back to the count folded into one day.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/frame_rate.h"
#include "core/timecode.h"
#include "fuzz/fuzz_input.h"

using namespace quillmark;
using namespace quillmark::fuzz;

namespace {

void checkCount(std::int64_t count) {
  for (const FrameRate rate : kAllFrameRates) {
    const std::int64_t day = framesPerDay(rate);
    const Timecode label = Timecode::fromFrame(count, rate);
    FUZZ_CHECK(label.isValid(rate));
    FUZZ_CHECK(label.frameNumber(rate) == ((count % day) + day) % day);
  }
}

void checkText(std::string_view text) {
  const std::optional<Timecode> parsed = Timecode::parse(text);
  if (!parsed) return;
  for (const FrameRate rate : kAllFrameRates) {
    const std::int64_t count = parsed->frameNumber(rate);
    const bool valid = parsed->isValid(rate);
    const std::string plain = parsed->text(false);
    const std::string drop = parsed->text(true);
    FUZZ_CHECK(plain == parsed->description());
    FUZZ_CHECK(plain.size() == drop.size());
    checkCount(count);
    if (!valid) continue;
    FUZZ_CHECK(count >= 0 && count < framesPerDay(rate));
    FUZZ_CHECK(Timecode::fromFrame(count, rate) == *parsed);
    FUZZ_CHECK(Timecode::parse(plain) == parsed);
    FUZZ_CHECK(Timecode::parse(drop) == parsed);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput whole(data, size);
  checkCount(whole.take<std::int64_t>());
  checkText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
