#pragma once
// Locked<T>: a value behind a plain, non-recursive Mutex. Values that cross threads live in one, and each
// use holds the lock for one copy, one update or one clock observation, nothing longer, so that a
// real-time thread contending with the main thread waits at most for one such copy.
// LockedView<T>: read access to a value that lives in its owner under the owner's Mutex, for readers
// outside the owner (the store's tests and diagnostics); each read holds that lock for one copy.
// Threads: any. The closure passed to withLock must not take the same box again (the mutex is not
// recursive) and must not allocate, do I/O or wait: a real-time thread may be waiting for the lock.

#include <type_traits>
#include <utility>

#include "core/mutex.h"
#include "core/thread_annotations.h"

namespace quillmark {

template <class T>
class Locked {
 public:
  Locked() = default;
  explicit Locked(T value) : value_(std::move(value)) {}
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

  // Runs `body` with exclusive, in-place access to the value and returns its result.
  template <class F>
  decltype(auto) withLock(F&& body) {
    MutexLock guard(mutex_);
    return std::forward<F>(body)(value_);
  }

  // A copy of the value, taken under the lock.
  T read() {
    MutexLock guard(mutex_);
    return value_;
  }

  // For a value that only one thread ever writes: runs `body` on a copy, outside the lock, then stores the
  // copy back, so that work in `body` that allocates or takes long (parsing typed text, reading the wall
  // clock) never holds up a real-time reader. Returns what `body` returns.
  template <class F>
  decltype(auto) update(F&& body) {
    T copy = read();
    struct StoreBack {  // however `body` returns
      Locked& box;
      T& copy;
      ~StoreBack() {
        MutexLock guard(box.mutex_);
        box.value_ = std::move(copy);
      }
    } storeBack{*this, copy};
    return std::forward<F>(body)(copy);
  }

 private:
  Mutex mutex_;
  T value_ QM_GUARDED_BY(mutex_){};
};

template <class T>
class LockedView {
 public:
  // REQUIRES: `value` is guarded by `mutex`, and both outlive the view.
  LockedView(Mutex& mutex, const T& value) noexcept : mutex_(mutex), value_(value) {}
  LockedView(const LockedView&) = delete;
  LockedView& operator=(const LockedView&) = delete;

  // A copy of the value, taken under the owner's lock.
  T read() const {
    MutexLock guard(mutex_);
    return value_;
  }

 private:
  Mutex& mutex_;
  const T& value_;
};

}  // namespace quillmark
