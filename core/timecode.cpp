#include "core/timecode.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <vector>

namespace quillmark {
namespace {

// Checked 64-bit arithmetic for frameNumber. A label from LTC or MTC never comes near the limits; a
// hand-edited text can, and must not wrap into a count that looks like a real position.
struct Checked {
  std::int64_t value;
  bool overflow = false;

  Checked mul(std::int64_t k) const noexcept {
    Checked r = *this;
    r.overflow |= __builtin_mul_overflow(value, k, &r.value);
    return r;
  }
  Checked add(std::int64_t k) const noexcept {
    Checked r = *this;
    r.overflow |= __builtin_add_overflow(value, k, &r.value);
    return r;
  }
  Checked sub(std::int64_t k) const noexcept {
    Checked r = *this;
    r.overflow |= __builtin_sub_overflow(value, k, &r.value);
    return r;
  }
};

// Saturates toward the sign of the dominant term when the exact count does not fit.
std::int64_t saturated(const Timecode& t) noexcept {
  const bool negative =
      (t.hours < 0 || (t.hours == 0 && t.minutes < 0) || (t.hours == 0 && t.minutes == 0 && t.seconds < 0) ||
       (t.hours == 0 && t.minutes == 0 && t.seconds == 0 && t.frames < 0));
  return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
}

bool isSeparator(char c) noexcept {
  return c == ':' || c == ';' || c == '.' || c == ',';
}
bool isDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// A whole field as a signed decimal: an optional sign, then ASCII digits only, fitting in 64 bits.
std::optional<std::int64_t> fieldValue(std::string_view field) noexcept {
  bool negative = false;
  if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  if (field.empty()) return std::nullopt;
  for (char c : field) {
    if (!isDigit(c)) return std::nullopt;
  }
  // Accumulate as a negative number so that INT64_MIN itself parses.
  std::int64_t value = 0;
  for (char c : field) {
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, c - '0', &value)) {
      return std::nullopt;
    }
  }
  if (!negative) {
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    value = -value;
  }
  return value;
}

}  // namespace

Timecode Timecode::fromFrame(std::int64_t frame, FrameRate rate) noexcept {
  const std::int64_t perDay = framesPerDay(rate);
  std::int64_t f = ((frame % perDay) + perDay) % perDay;
  if (isDropFrame(rate)) {
    // Count of existing labels -> count of 30 fps labels: each whole ten-minute block of 17982 frames
    // skipped 18 labels; within a block, every minute after the first skipped 2.
    const std::int64_t blocks = f / 17982;
    const std::int64_t within = f % 17982;
    f += 18 * blocks;
    if (within >= 2) f += 2 * ((within - 2) / 1798);
  }
  const std::int64_t fps = framesPerSecond(rate);
  return Timecode{(f / (3600 * fps)) % 24, (f / (60 * fps)) % 60, (f / fps) % 60, f % fps};
}

std::int64_t Timecode::frameNumber(FrameRate rate) const noexcept {
  const Checked totalMinutes = Checked{hours}.mul(60).add(minutes);
  Checked count = totalMinutes.mul(60).add(seconds).mul(framesPerSecond(rate)).add(frames);
  if (isDropFrame(rate)) {
    const Checked dropped = totalMinutes.sub(totalMinutes.value / 10).mul(2);
    count = count.sub(dropped.value);
    count.overflow |= dropped.overflow;
  }
  if (count.overflow) return saturated(*this);
  return count.value;
}

bool Timecode::isValid(FrameRate rate) const noexcept {
  // Compared as unsigned, so any negative field is out of range.
  const auto u = [](std::int64_t v) { return static_cast<std::uint64_t>(v); };
  if (u(hours) > 23 || u(minutes) > 59 || u(seconds) > 59) return false;
  if (u(frames) >= static_cast<std::uint64_t>(framesPerSecond(rate))) return false;
  if (isDropFrame(rate) && seconds == 0 && frames < 2 && minutes % 10 != 0) return false;
  return true;
}

std::string Timecode::text(bool dropFrame) const {
  char buffer[128];
  const int n =
      std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld%c%02lld", static_cast<long long>(hours),
                    static_cast<long long>(minutes), static_cast<long long>(seconds), dropFrame ? ';' : ':',
                    static_cast<long long>(frames));
  return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::optional<Timecode> Timecode::parse(std::string_view text) {
  std::string digits;
  std::vector<std::string_view> fields;
  std::size_t fieldStart = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && isDigit(text[i])) digits.push_back(text[i]);
    if (i == text.size() || isSeparator(text[i])) {
      if (i > fieldStart) fields.push_back(text.substr(fieldStart, i - fieldStart));
      fieldStart = i + 1;
    }
  }

  if (fields.size() == 4) {
    std::int64_t values[4];
    std::size_t converted = 0;
    for (std::string_view field : fields) {
      if (const auto v = fieldValue(field)) values[converted++] = *v;
    }
    if (converted != 4) return std::nullopt;
    return Timecode{values[0], values[1], values[2], values[3]};
  }
  if (fields.size() == 1) {
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    digits.insert(0, 8 - digits.size(), '0');
    const auto group = [&](std::size_t i) { return (digits[2 * i] - '0') * 10 + (digits[2 * i + 1] - '0'); };
    return Timecode{group(0), group(1), group(2), group(3)};
  }
  return std::nullopt;
}

}  // namespace quillmark
