#pragma once
// SpscQueue: a bounded, lock-free queue of trivially copyable values between exactly one producer thread and
// exactly one consumer thread. The MIDI layer uses it where a real-time thread meets another thread: the
// MTC sender hands messages to the JACK process callback, and the process callback hands received MIDI
// to the receive thread; the engine hands TIMECODE_DEBUG jump reports from the audio input thread to their
// printer. A full queue is never waited on: tryPush fails and the caller counts a drop.
// Threads: tryPush from the one producer only, tryPop from the one consumer only; neither allocates,
// locks or blocks. Copying is deleted because a copy would be a second queue sharing nobody's indices.

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>

namespace quillmark {

template <class T, std::size_t N>
class SpscQueue {
 public:
  static_assert(std::is_trivially_copyable_v<T>, "slots are copied by value across threads");
  static_assert(N >= 2 && (N & (N - 1)) == 0, "N must be a power of two");

  SpscQueue() = default;
  SpscQueue(const SpscQueue&) = delete;
  SpscQueue& operator=(const SpscQueue&) = delete;

  // Producer only. False when the queue is full; the value is then not queued.
  bool tryPush(const T& value) noexcept {
    const std::size_t w = write_.load(std::memory_order_relaxed);
    // acquire: the consumer has finished reading the slot we are about to overwrite.
    if (w - read_.load(std::memory_order_acquire) == N) return false;
    slots_[w & (N - 1)] = value;
    write_.store(w + 1, std::memory_order_release);  // publishes the slot's contents
    return true;
  }

  // Consumer only. False when the queue is empty.
  bool tryPop(T& out) noexcept {
    const std::size_t r = read_.load(std::memory_order_relaxed);
    // acquire: pairs with the producer's release, so the slot's contents are visible.
    if (r == write_.load(std::memory_order_acquire)) return false;
    out = slots_[r & (N - 1)];
    read_.store(r + 1, std::memory_order_release);  // hands the slot back to the producer
    return true;
  }

  static constexpr std::size_t capacity() noexcept { return N; }

 private:
  std::array<T, N> slots_{};
  alignas(64) std::atomic<std::size_t> write_{0};  // a cache line each, so the two threads do not share one
  alignas(64) std::atomic<std::size_t> read_{0};
};

}  // namespace quillmark
