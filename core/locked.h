#pragma once
// Locked<T>: a value behind a plain, non-recursive mutex. Every value that crosses threads lives in one,
// and each use holds the lock for one copy, one update or one clock observation, nothing longer, so that a
// real-time thread contending with the main thread waits at most for one such copy.
// Threads: any. The closure passed to withLock must not take the same box again (the mutex is not
// recursive) and must not allocate when called on a real-time thread.

#include <mutex>
#include <type_traits>
#include <utility>

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
    std::lock_guard<std::mutex> guard(mutex_);
    return std::forward<F>(body)(value_);
  }

  // A copy of the value, taken under the lock.
  T read() {
    std::lock_guard<std::mutex> guard(mutex_);
    return value_;
  }

 private:
  std::mutex mutex_;
  T value_{};  // guarded by mutex_
};

}  // namespace quillmark
