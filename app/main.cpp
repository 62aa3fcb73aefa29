// quillmark: the application. For now it runs headless; the windows will open from here when the
// interface exists.
#include <cstdio>
#include <cstring>

#include "app/headless.h"

namespace {

constexpr const char* kUsage =
    "usage: quillmark --headless [--profile NAME]\n"
    "  --headless      run the timecode store and engine with no window; log lines go to standard output\n"
    "  --profile NAME  use the separate settings stored under NAME\n"
    "  --help          show this text\n"
    "  --version       show the version\n";

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--profile") == 0) {
      ++i;  // its value may be any text, "--headless" included
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("quillmark " QM_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    }
  }
  if (headless) return quillmark::runHeadless(argc, argv);
  std::fputs("quillmark: the windows are not available yet; run with --headless\n", stderr);
  std::fputs(kUsage, stderr);
  return 2;
}
