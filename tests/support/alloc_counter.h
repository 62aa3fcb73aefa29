#pragma once
// Counts heap allocations made by the current thread while it is marked as real-time, so tests can prove
// that decoder loops, encoder loops, JACK process callbacks and the MTC sender allocate nothing.
// Linking quillmark_test_support replaces the global operator new/delete for the whole test binary.
// Threads: the mark is per thread; the count is global and atomic, so a test may mark a JACK process
// thread from inside the callback and read the count on the test thread.

#include <cstdint>

namespace quillmark::test {

// Marks or unmarks the calling thread. Cheap (a thread_local store); safe inside a process callback.
void setRealtimeThread(bool marked) noexcept;

// Allocations (operator new and malloc through it) made by marked threads since the last reset.
std::uint64_t realtimeAllocations() noexcept;
void resetRealtimeAllocations() noexcept;

// False in sanitizer builds, which keep their own allocator: there the count stays zero and tests that
// rely on it must skip rather than pass vacuously.
bool allocationCountingAvailable() noexcept;

// RAII mark for the current scope.
class RealtimeScope {
 public:
  RealtimeScope() noexcept { setRealtimeThread(true); }
  ~RealtimeScope() { setRealtimeThread(false); }
  RealtimeScope(const RealtimeScope&) = delete;
  RealtimeScope& operator=(const RealtimeScope&) = delete;
};

}  // namespace quillmark::test
