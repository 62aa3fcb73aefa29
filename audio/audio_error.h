#pragma once
// AudioError: why starting the LTC input or output failed. The store shows description() under the
// input or output; nothing else of the error is shown.
// Threads: a plain value, thrown from start() on the main thread only.

#include <exception>
#include <string>

namespace quillmark {

class AudioError : public std::exception {
 public:
  // The device is gone, has no channels or no valid sample rate, or no JACK server runs.
  static AudioError deviceUnavailable(std::string deviceName);

  // The device's name.
  const std::string& deviceName() const noexcept { return deviceName_; }
  // The text the main window shows.
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  AudioError(std::string deviceName, std::string description);

  std::string deviceName_;
  std::string description_;
};

}  // namespace quillmark
