// Not built: the thread-safety check must reject this file, which writes a guarded member without its lock.
#include "core/mutex.h"

namespace quillmark {

struct Unguarded {
  Mutex mutex;
  int value QM_GUARDED_BY(mutex) = 0;
  void write() { value = 1; }
};

}  // namespace quillmark
