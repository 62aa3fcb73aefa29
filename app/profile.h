#pragma once
// The settings profile: the argument right after the first "--profile" on the command line. It selects a
// separate pair of stored records (settings and display style) and is shown in the main window's title.
// main() reads it from its own arguments, before a QCoreApplication can take any of them, and hands it to
// the store it builds.
// Threads: pure; any thread.

#include <optional>
#include <span>
#include <string>

namespace quillmark {

// Searches the whole list, the program path included. No profile when no argument is exactly "--profile"
// or when it is the last one. Any text is taken unchanged, the empty text included.
std::optional<std::string> profileFromArguments(std::span<const std::string> arguments);

// The same over main()'s arguments.
std::optional<std::string> profileFromArguments(int argc, const char* const* argv);

}  // namespace quillmark
