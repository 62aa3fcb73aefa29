#pragma once
// The two commands of quillmark-ltc. Each takes the words after its name and returns the exit status;
// data goes to standard output, diagnostics to standard error.
// Threads: main only.

#include <string_view>
#include <vector>

namespace quillmark::cli {

int decodeCommand(const std::vector<std::string_view>& args);
int generateCommand(const std::vector<std::string_view>& args);

extern const char* const kDecodeHelp;
extern const char* const kGenerateHelp;

}  // namespace quillmark::cli
