#pragma once
// FuzzInput reads typed values off the front of a fuzzer's byte string, so that one input can describe a
// whole session (a sample rate, then buffers of arbitrary lengths; packets and their times). Reading past
// the end yields zeros and empty runs rather than failing, so every byte string is a valid session.
// FUZZ_CHECK stops the run with a message when a property the code promises does not hold: libFuzzer
// then keeps the input as a finding.
// Threads: one instance per fuzzer call.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace quillmark::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  bool empty() const noexcept { return offset_ >= size_; }
  std::size_t remaining() const noexcept { return size_ - offset_; }

  // The next sizeof(T) bytes as a T (little-endian on this machine), zero-padded at the end.
  template <class T>
  T take() noexcept {
    T value{};
    const std::size_t n = remaining() < sizeof(T) ? remaining() : sizeof(T);
    if (n > 0) std::memcpy(&value, data_ + offset_, n);
    offset_ += n;
    return value;
  }

  // Up to `count` bytes, fewer at the end.
  std::span<const std::uint8_t> bytes(std::size_t count) noexcept {
    const std::size_t n = remaining() < count ? remaining() : count;
    const std::span<const std::uint8_t> run(data_ + offset_, n);
    offset_ += n;
    return run;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

[[noreturn]] inline void fail(const char* condition, const char* file, int line) noexcept {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace quillmark::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::quillmark::fuzz::fail(#condition, __FILE__, __LINE__))
