#pragma once
// JackBufferAccess fetches a JACK port buffer for one process cycle and tells ThreadSanitizer about the order
// jackd keeps between the clients that share it. A writer's process thread fills an output buffer and a
// reader's process thread, often in another client of the same process, reads the same memory later in
// the cycle; jackd orders the two through its graph, signalled with shared-memory counters and futexes
// that ThreadSanitizer cannot see, so without a word from us it reports every such buffer as a race. The
// access acquires the buffer's address when it is fetched and releases it when the cycle is done with it,
// so the sanitizer sees exactly the edges jackd guarantees: between the cycles that touch one buffer, in
// graph order, and nowhere else. Real races in our own process callbacks (on anything but the port
// buffers) stay visible. Outside ThreadSanitizer builds this is jack_port_get_buffer and nothing more.
// An input with several connections is mixed inside libjack from the writers' buffers, whose addresses
// we never see: such a graph (a user patching two sources into the virtual destination) can still draw a
// report from a sanitizer build, on libjack's copy rather than on our code. The tests connect one writer
// to each input.
// Threads: an instance lives inside one process callback; nothing here allocates, locks or logs.

#include <jack/jack.h>

#if defined(__SANITIZE_THREAD__)
#define QM_TSAN_ANNOTATE_JACK 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QM_TSAN_ANNOTATE_JACK 1
#endif
#endif

#if defined(QM_TSAN_ANNOTATE_JACK)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace quillmark {

// The two halves, for buffers reached some other way than through a JackBufferAccess.
// Call right after jack_port_get_buffer, before the buffer is read or written.
inline void jackBufferAcquired([[maybe_unused]] void* buffer) noexcept {
#if defined(QM_TSAN_ANNOTATE_JACK)
  if (buffer) __tsan_acquire(buffer);
#endif
}
// Call once the cycle is done with the buffer: after the last write of an output, the last read of an input.
inline void jackBufferReleased([[maybe_unused]] void* buffer) noexcept {
#if defined(QM_TSAN_ANNOTATE_JACK)
  if (buffer) __tsan_release(buffer);
#endif
}

class JackBufferAccess {
 public:
  // An access to no buffer: data() is null until reset() is given a port.
  JackBufferAccess() noexcept = default;
  // The buffer of `port` for this cycle; data() is null when the port is null or JACK has no buffer.
  JackBufferAccess(jack_port_t* port, jack_nframes_t frames) noexcept { reset(port, frames); }
  ~JackBufferAccess() { jackBufferReleased(buffer_); }
  JackBufferAccess(const JackBufferAccess&) = delete;
  JackBufferAccess& operator=(const JackBufferAccess&) = delete;

  // Ends any earlier access and begins one on `port`.
  void reset(jack_port_t* port, jack_nframes_t frames) noexcept {
    jackBufferReleased(buffer_);
    buffer_ = port ? jack_port_get_buffer(port, frames) : nullptr;
    jackBufferAcquired(buffer_);
  }

  void* data() const noexcept { return buffer_; }
  float* samples() const noexcept { return static_cast<float*>(buffer_); }

 private:
  void* buffer_ = nullptr;
};

}  // namespace quillmark
