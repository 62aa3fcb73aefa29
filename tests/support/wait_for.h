#pragma once
// waitFor: a deadline-bounded poll, so that no test waits blindly or for ever.

#include <chrono>
#include <thread>

namespace quillmark::test {

template <class F>
bool waitFor(F&& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace quillmark::test
