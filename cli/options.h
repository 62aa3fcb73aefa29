#pragma once
// Command-line scanning and number parsing for quillmark-ltc. Every parser returns no value on bad input
// instead of throwing, so each command can name the exact option in its one-line error.
// Threads: main only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::cli {

// Exit statuses: 0 success, 1 a file could not be read or written, 2 the command line was wrong.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Arguments split into "--name value" / "--name=value" options, bare flags and positional words.
class Options {
 public:
  // `withValue` lists the options that take a value, `flags` those that do not. On an unknown option or
  // a missing value, error() holds the one-line message.
  Options(const std::vector<std::string_view>& args, const std::vector<std::string_view>& withValue,
          const std::vector<std::string_view>& flags);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  std::optional<std::string> value(std::string_view name) const;
  bool has(std::string_view name) const;
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> flags_;
  std::vector<std::string> positional_;
  std::string error_;
};

// A finite decimal number (no trailing characters, no inf or nan).
std::optional<double> parseFinite(std::string_view text);
// A whole decimal number that fits in 64 bits, optionally signed.
std::optional<std::int64_t> parseInteger(std::string_view text);
// One to eight hexadecimal digits, optionally after "0x".
std::optional<std::uint32_t> parseHex32(std::string_view text);

}  // namespace quillmark::cli
