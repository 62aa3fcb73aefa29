#include "app/profile.h"

#include <fstream>
#include <iterator>

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

std::vector<std::string> processArguments() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Each argument is terminated by a NUL, the last one included, so an empty argument is a lone NUL.
  std::vector<std::string> arguments;
  std::size_t begin = 0;
  while (begin < all.size()) {
    std::size_t end = all.find('\0', begin);
    if (end == std::string::npos) end = all.size();
    arguments.emplace_back(all, begin, end - begin);
    begin = end + 1;
  }
  return arguments;
}

const std::optional<std::string>& processProfile() {
  static const std::optional<std::string> profile = profileFromArguments(processArguments());
  return profile;
}

}  // namespace quillmark
