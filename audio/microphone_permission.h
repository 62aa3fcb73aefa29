#pragma once
// The microphone permission the store checks before starting the LTC input. Linux has no such permission:
// the status is always authorized and a request is answered at once with true. Kept as a function so the
// store's check stays in one place should a sandbox (a portal) ever add one.
// Threads: main thread.

#include <functional>

namespace quillmark {

enum class MicrophonePermission { notDetermined, restricted, denied, authorized };

inline MicrophonePermission microphonePermission() noexcept {
  return MicrophonePermission::authorized;
}

// Calls `answer` with whether access was granted; here synchronously, with true.
inline void requestMicrophoneAccess(const std::function<void(bool granted)>& answer) {
  if (answer) answer(true);
}

}  // namespace quillmark
