#pragma once
// The settings profile: the argument right after the first "--profile" on the command line. It selects a
// separate pair of stored records (settings and display style) and is shown in the main window's title.
// Threads: profileFromArguments is pure. processProfile is computed once, on first use, behind a static
// initialiser, so any thread may call it; it never changes while the process runs.

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillmark {

// Searches the whole list, the program path included. No profile when no argument is exactly "--profile"
// or when it is the last one. Any text is taken unchanged, the empty text included.
std::optional<std::string> profileFromArguments(std::span<const std::string> arguments);

// This process's arguments exactly as it was started (the raw bytes of /proc/self/cmdline), independent of
// any argument handling a QCoreApplication may have done. Empty when they cannot be read.
std::vector<std::string> processArguments();

// The profile of this process, from processArguments().
const std::optional<std::string>& processProfile();

}  // namespace quillmark
