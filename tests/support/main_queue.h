#pragma once
// MainQueue stands in for the application's main loop: its context's poster queues tasks, and the test
// thread, which plays the main thread, runs them with drain(). Tasks therefore run on the test's thread,
// exactly as the store would run them on its own. Shared by the audio and MIDI tests; what is built on its
// context must go before it.
// Threads: construct, drain and destroy on the test thread; tasks are posted from any thread.

#include <mutex>
#include <utility>
#include <vector>

#include "jack/jack_context.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

class MainQueue {
 public:
  // Names clients "Quillmark ..." and posts to this queue.
  JackContext context() {
    return JackContext{"Quillmark", [this](MainThreadTask task) {
                         const std::lock_guard<std::mutex> guard(mutex_);
                         tasks_.push_back(std::move(task));
                       }};
  }

  // Runs every task posted so far, in order.
  void drain() {
    std::vector<MainThreadTask> tasks;
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
  }

  // Drains until `condition` holds or `seconds` pass.
  template <class F>
  bool drainUntil(F&& condition, double seconds = 5) {
    return waitFor([&] { return drain(), condition(); }, seconds);
  }

 private:
  std::mutex mutex_;
  std::vector<MainThreadTask> tasks_;  // guarded by mutex_
};

}  // namespace quillmark::test
