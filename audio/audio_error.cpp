#include "audio/audio_error.h"

#include <utility>

namespace quillmark {

AudioError::AudioError(Kind kind, std::string deviceName, std::string description)
    : kind_(kind), deviceName_(std::move(deviceName)), description_(std::move(description)) {}

AudioError AudioError::deviceUnavailable(std::string deviceName) {
  std::string text =
      deviceName + " can't be opened. Is it connected, and not in use exclusively by another app?";
  return AudioError(Kind::deviceUnavailable, std::move(deviceName), std::move(text));
}

AudioError AudioError::permissionDenied() {
  return AudioError(
      Kind::permissionDenied, {},
      "Allow Quillmark under System Settings \u2192 Privacy & Security \u2192 Microphone to read LTC.");
}

}  // namespace quillmark
