#include "app/profile.h"

#include <vector>

namespace quillmark {

std::optional<std::string> profileFromArguments(std::span<const std::string> arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--profile") {
      if (i + 1 < arguments.size()) return arguments[i + 1];
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::string> profileFromArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv[i]; ++i) arguments.emplace_back(argv[i]);
  return profileFromArguments(arguments);
}

}  // namespace quillmark
