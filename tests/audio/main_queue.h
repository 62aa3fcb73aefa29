#pragma once
// MainQueue stands in for the application's main loop: it installs a main-thread poster that queues tasks,
// and the test thread, which plays the main thread, runs them with drain(). Tasks therefore run on the
// test's thread, exactly as the store would run them on its own.
// Threads: construct, drain and destroy on the test thread; tasks are posted from any thread.

#include <deque>
#include <mutex>
#include <utility>

#include "audio/main_thread.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

class MainQueue {
 public:
  MainQueue() {
    setMainThreadPoster([this](MainThreadTask task) {
      std::lock_guard<std::mutex> guard(mutex_);
      tasks_.push_back(std::move(task));
    });
  }
  ~MainQueue() { setMainThreadPoster(nullptr); }
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  // Runs every task posted so far, in order.
  void drain() {
    for (;;) {
      MainThreadTask task;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  // Drains until `condition` holds or `seconds` pass.
  template <class F>
  bool drainUntil(F&& condition, double seconds) {
    return waitFor(
        [&] {
          drain();
          return condition();
        },
        seconds);
  }

 private:
  std::mutex mutex_;
  std::deque<MainThreadTask> tasks_;  // guarded by mutex_
};

}  // namespace quillmark::test
