#pragma once
// The headless mode: the store and the engine with no window, for a rack machine or a server. Every new
// event-log line goes to standard output with its local time as it is logged, and so does every change of
// the input's or the outputs' error. SIGINT or SIGTERM ends it cleanly: the outputs stop, the settings are
// saved and the exit status is 0. With no JACK server it still runs, says so, and keeps trying.
// Threads: call from main(); runs the Qt event loop until a signal ends it.

#include <optional>
#include <string>

namespace quillmark {

// Runs the store of `profile` (from "--profile NAME"; none without one).
// REQUIRES: no QCoreApplication exists yet; this makes one from argc and argv.
int runHeadless(int argc, char** argv, const std::optional<std::string>& profile);

}  // namespace quillmark
