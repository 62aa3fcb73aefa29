#pragma once
// JackContext: what every JACK object of one application instance shares: the base its clients are named
// from, and the poster that carries JACK's notices to that instance's main thread. Two instances in one
// process (two stores in a test) each hand their own context to what they build, so neither names the
// other's clients nor runs the other's notices. Intentionally copyable: each object keeps its own copy.
// Threads: built on the main thread; post() from any thread that may allocate, never a process callback.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "jack/main_thread.h"

namespace quillmark {

struct JackContext {
  // "Quillmark", or "Quillmark-<profile>" (see jackClientBase).
  std::string clientBase = "Quillmark";
  // Empty: notices are dropped (running them on JACK's thread would touch main-thread state there).
  MainThreadPoster poster;

  // The context of an instance run with `profile` that posts through `poster`.
  static JackContext forProfile(const std::optional<std::string>& profile, MainThreadPoster poster);

  // The base followed by " <role>" ("Quillmark-B LTC in"); the base alone for an empty role.
  std::string clientName(std::string_view role) const;

  void post(MainThreadTask task) const {
    if (poster) poster(std::move(task));
  }
};

}  // namespace quillmark
