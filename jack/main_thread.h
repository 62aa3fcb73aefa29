#pragma once
// The road from JACK's threads to the main thread. JACK delivers its notices (clients and ports coming and
// going, a server shutdown, a new sample rate or buffer size) on its own notification thread; the owners of
// the devices, the inputs and the outputs expect them on the main thread. The JACK layer does not know the
// toolkit that runs the main thread, so whoever owns that thread hands a poster to the objects that post:
//
//   the application store, to everything it builds on JACK (through their JackContext):
//     [store](MainThreadTask task) { QMetaObject::invokeMethod(store, std::move(task), Qt::QueuedConnection);
//     }
//   a test: a poster that appends to a list which the test thread drains (tests/audio/main_queue.h).
//
// A poster must not block its caller and must run each task later, on the main thread, in posting order.
// Tasks it holds when its owner goes may be dropped: whoever posts captures only what outlives the poster's
// owner, or holds it weakly.
// Threads: a poster is called from any thread that may allocate (JACK notification threads, the main
// thread), never from a process callback.

#include <functional>

namespace quillmark {

using MainThreadTask = std::function<void()>;
using MainThreadPoster = std::function<void(MainThreadTask)>;

}  // namespace quillmark
