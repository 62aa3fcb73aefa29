#include "tests/support/alloc_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace quillmark::test {
namespace {
thread_local bool tRealtime = false;
std::atomic<std::uint64_t> gAllocations{0};

[[maybe_unused]] void* allocate(std::size_t size, std::size_t alignment) {
  if (tRealtime) gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  void* p = alignment > alignof(std::max_align_t)
                ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                : std::malloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}
}  // namespace

void setRealtimeThread(bool marked) noexcept {
  tRealtime = marked;
}
std::uint64_t realtimeAllocations() noexcept {
  return gAllocations.load(std::memory_order_relaxed);
}
void resetRealtimeAllocations() noexcept {
  gAllocations.store(0, std::memory_order_relaxed);
}

bool allocationCountingAvailable() noexcept {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;
#else
  return true;
#endif
}

}  // namespace quillmark::test

// Replaced global allocation functions. The array forms, and the sized and aligned deletes of arrays, are
// left to the library, whose defaults call these. Sanitizer builds keep their own allocator instead (the
// sanitizers intercept malloc, and replacing operator new under them hides their reports).
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
void* operator new(std::size_t size) {
  return quillmark::test::allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return quillmark::test::allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
#endif
