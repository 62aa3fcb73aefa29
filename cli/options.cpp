#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quillmark::cli {
namespace {

bool contains(const std::vector<std::string_view>& list, std::string_view name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

Options::Options(const std::vector<std::string_view>& args, const std::vector<std::string_view>& withValue,
                 const std::vector<std::string_view>& flags) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg.size() < 2 || arg.substr(0, 2) != "--" || arg == "--") {
      positional_.emplace_back(arg);  // "-" and other short words are positional (a file may be named so)
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    if (contains(flags, name) && equals == std::string_view::npos) {
      flags_.emplace_back(name);
    } else if (contains(withValue, name)) {
      if (equals != std::string_view::npos) {
        values_.emplace_back(name, arg.substr(equals + 1));
      } else if (i + 1 < args.size()) {
        values_.emplace_back(name, args[++i]);
      } else {
        error_ = "option " + std::string(name) + " needs a value";
        return;
      }
    } else {
      error_ = "unknown option " + std::string(arg);
      return;
    }
  }
}

std::optional<std::string> Options::value(std::string_view name) const {
  // The last occurrence wins, as in most tools.
  for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
    if (it->first == name) return it->second;
  }
  return std::nullopt;
}

bool Options::has(std::string_view name) const {
  return std::find(flags_.begin(), flags_.end(), name) != flags_.end() || value(name).has_value();
}

std::optional<double> parseFinite(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> parseHex32(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace quillmark::cli
