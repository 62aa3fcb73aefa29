#pragma once
// Mutex is the plain, non-recursive lock behind every shared value (a std::mutex: an uncontended futex),
// marked as a capability so that clang checks the members it guards; MutexLock holds one for a scope.
// Threads: any. Real-time threads take only Mutexes whose every holder keeps them for a copy of plain
// values or one short update, never for an allocation, I/O or a wait.

#include <mutex>

#include "core/thread_annotations.h"

namespace quillmark {

class QM_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() QM_ACQUIRE() { mutex_.lock(); }
  void unlock() QM_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class QM_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) QM_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() QM_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace quillmark
