#include "jack/main_thread.h"

#include <memory>
#include <mutex>
#include <utility>

namespace quillmark {
namespace {

// The poster is swapped as a whole under the mutex and called outside it, so a slow poster never holds up
// a replacement and a replacement never frees a poster that is running.
std::mutex posterMutex;
std::shared_ptr<const MainThreadPoster> installedPoster;  // guarded by posterMutex

}  // namespace

void setMainThreadPoster(MainThreadPoster poster) {
  auto next = poster ? std::make_shared<const MainThreadPoster>(std::move(poster)) : nullptr;
  std::lock_guard<std::mutex> guard(posterMutex);
  installedPoster = std::move(next);
}

void postToMainThread(MainThreadTask task) {
  std::shared_ptr<const MainThreadPoster> poster;
  {
    std::lock_guard<std::mutex> guard(posterMutex);
    poster = installedPoster;
  }
  if (poster) (*poster)(std::move(task));
}

}  // namespace quillmark
