// quillmark-ltc: decodes LTC from audio files and renders LTC into them, with the codec the app uses.

#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"

namespace {

const char* const kHelp =
    "Usage: quillmark-ltc COMMAND [OPTIONS]\n"
    "\n"
    "Reads and writes SMPTE linear timecode (LTC) in audio files.\n"
    "\n"
    "Commands:\n"
    "  decode FILE [--channel N] [--json]      print every frame found in a file\n"
    "  generate --rate RATE --start LABEL ...  render LTC to a file\n"
    "\n"
    "Run 'quillmark-ltc COMMAND --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace quillmark::cli;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kHelp, stderr);
    return kExitUsage;
  }
  const std::string_view command = args.front();
  const std::vector<std::string_view> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (command == "decode") return decodeCommand(rest);
  if (command == "generate") return generateCommand(rest);
  std::fprintf(stderr, "quillmark-ltc: unknown command '%.*s' (use decode or generate; see --help)\n",
               static_cast<int>(command.size()), command.data());
  return kExitUsage;
}
