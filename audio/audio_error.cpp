#include "audio/audio_error.h"

#include <utility>

namespace quillmark {

AudioError::AudioError(std::string deviceName, std::string description)
    : deviceName_(std::move(deviceName)), description_(std::move(description)) {}

AudioError AudioError::deviceUnavailable(std::string deviceName) {
  std::string text =
      deviceName + " can't be opened. Is it connected, and not in use exclusively by another app?";
  return AudioError(std::move(deviceName), std::move(text));
}

}  // namespace quillmark
