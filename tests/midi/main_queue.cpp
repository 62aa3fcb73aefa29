#include "audio/main_thread.h"
#include "tests/midi/midi_test_client.h"

namespace quillmark::test {

MainQueue::MainQueue() {
  setMainThreadPoster([this](MainThreadTask task) {
    std::lock_guard<std::mutex> guard(mutex_);
    tasks_.push_back(std::move(task));
  });
}

MainQueue::~MainQueue() {
  setMainThreadPoster(nullptr);
}

void MainQueue::drain() {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) task();
}

}  // namespace quillmark::test
