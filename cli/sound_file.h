#pragma once
// SoundFile: an open libsndfile handle that closes itself, and the choice of an output format from a file
// name's extension.
// Threads: main only.

#include <sndfile.h>

#include <optional>
#include <string>

namespace quillmark::cli {

class SoundFile {
 public:
  SoundFile() = default;
  explicit SoundFile(SNDFILE* handle) : handle_(handle) {}
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;
  ~SoundFile() { close(); }

  SNDFILE* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Returns libsndfile's error code (0 when all went well); a second close does nothing.
  int close();

 private:
  SNDFILE* handle_ = nullptr;
};

// The libsndfile format (major type | sample encoding) for a mono file at `sampleRate` whose name is
// `path`, or no value when the extension names no type libsndfile can write at that rate.
std::optional<int> formatForPath(const std::string& path, int sampleRate);

}  // namespace quillmark::cli
