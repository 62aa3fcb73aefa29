#pragma once
// jackMetadataMutex serialises this process's calls into libjack's metadata API (jack_get_property,
// jack_set_property). libjack keeps one metadata store per process and rewrites its state on every call
// without a lock of its own, so two threads asking at once (the device lists on the main thread, MIDI
// source names on the MIDI receive thread) can corrupt each other's lookups.
// Threads: any thread but a JACK process thread, which never asks for metadata.

#include <mutex>

namespace quillmark {

inline std::mutex& jackMetadataMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace quillmark
