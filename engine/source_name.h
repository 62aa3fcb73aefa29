#pragma once
// SourceName: the name of a MIDI source kept in place, in a fixed buffer, so that the MIDI receive thread
// records which source an event came from without allocating and the status refresh copies it as a plain
// value. JACK port names ("client:port") take at most 320 bytes; a longer display name (a JACK pretty
// name can be any length) keeps its first kCapacity bytes, cut before a UTF-8 sequence that would not fit.
// Threads: a plain value, safe anywhere; nothing here allocates.

#include <array>
#include <cstddef>
#include <string_view>

namespace quillmark {

class SourceName {
 public:
  static constexpr std::size_t kCapacity = 512;

  SourceName() = default;
  explicit SourceName(std::string_view text) noexcept { assign(text); }

  void assign(std::string_view text) noexcept {
    std::size_t length = text.size() < kCapacity ? text.size() : kCapacity;
    if (length < text.size()) {
      // Cut at a character boundary: back off over continuation bytes (10xxxxxx) to a sequence's start.
      while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0u) == 0x80u) --length;
    }
    for (std::size_t i = 0; i < length; ++i) bytes_[i] = text[i];
    length_ = length;
  }
  void clear() noexcept { length_ = 0; }

  std::string_view view() const noexcept { return std::string_view(bytes_.data(), length_); }
  bool empty() const noexcept { return length_ == 0; }

  bool operator==(const SourceName& other) const noexcept { return view() == other.view(); }
  bool operator==(std::string_view other) const noexcept { return view() == other; }

 private:
  std::array<char, kCapacity> bytes_{};
  std::size_t length_ = 0;
};

}  // namespace quillmark
