#pragma once
// The audio layer's one road to the main thread. JACK delivers its notices (clients and ports coming and
// going, a server shutdown, a new sample rate or buffer size) on its own notification thread; the owners of
// the devices, the inputs and the outputs expect them on the main thread. The audio layer does not know
// the toolkit that runs the main thread, so whoever owns that thread installs a poster:
//
//   the application store, once, before any audio object starts:
//     setMainThreadPoster([ctx](MainThreadTask task) {
//       QMetaObject::invokeMethod(ctx, std::move(task), Qt::QueuedConnection);
//     });
//   a test: a poster that appends to a list which the test thread drains (tests/support/main_queue.h).
//
// The poster must not block its caller and must run each task later, on the main thread, in posting order.
// Threads: setMainThreadPoster on the main thread; postToMainThread from any thread that may allocate (JACK
// notification threads, the main thread), never from a process callback.

#include <functional>

namespace quillmark {

using MainThreadTask = std::function<void()>;
using MainThreadPoster = std::function<void(MainThreadTask)>;

// Installs (or, with an empty function, removes) the poster. Replaces any earlier one.
void setMainThreadPoster(MainThreadPoster poster);

// Hands `task` to the installed poster. Without a poster the task is dropped: running it on the caller's
// thread would touch main-thread state from a JACK thread.
void postToMainThread(MainThreadTask task);

}  // namespace quillmark
