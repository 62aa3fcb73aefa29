#pragma once
// Timecode: an hours-minutes-seconds-frames label. It carries no rate and says nothing about when it
// happened; every operation that needs a rate takes one. Fields may be out of range (a damaged LTC word, a
// user's typing): only isValid says whether the label exists at a rate.
// Threads: a plain value, safe anywhere. frameNumber, fromFrame and isValid never allocate; only the text
// forms and the parser do.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/frame_rate.h"

namespace quillmark {

struct Timecode {
  std::int64_t hours = 0;
  std::int64_t minutes = 0;
  std::int64_t seconds = 0;
  std::int64_t frames = 0;

  bool operator==(const Timecode&) const = default;

  // The label of a running frame count at `rate`; any count is folded into one day, so -1 is the last
  // frame of the day.
  static Timecode fromFrame(std::int64_t frame, FrameRate rate) noexcept;

  // Parses user-typed text ("01:02:03:04", "1.2.3.4", "1234"); no value when it does not parse. It does not
  // check validity: follow it with isValid.
  static std::optional<Timecode> parse(std::string_view text);

  // The running frame count of this label at `rate`, counted from 00:00:00:00, drop-frame labels skipped.
  // No range check: an invalid label yields whatever the formula gives. Fields so large that the count
  // does not fit in 64 bits (only reachable from unvalidated parsed text) saturate to INT64_MAX or
  // INT64_MIN rather than wrapping into a plausible count.
  std::int64_t frameNumber(FrameRate rate) const noexcept;

  // True iff every field is in range at `rate` and, at 29.97 DF, the label is not one of the dropped ones.
  bool isValid(FrameRate rate) const noexcept;

  // "HH:MM:SS:FF", or "HH:MM:SS;FF" with dropFrame. Wider values print in full, negatives with a sign.
  std::string text(bool dropFrame) const;
  std::string description() const { return text(false); }
};

}  // namespace quillmark
