// quillmark: the application. It opens the main window, or runs headless with --headless (or when it was
// built without the windows).
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/headless.h"
#include "app/profile.h"
#ifdef QM_WITH_GUI
#include "ui/application.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: quillmark [--headless] [--profile NAME]\n"
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
  // Read before a QCoreApplication can take any argument out of argv.
  const std::optional<std::string> profile = quillmark::profileFromArguments(argc, argv);
  if (headless) return quillmark::runHeadless(argc, argv, profile);
#ifdef QM_WITH_GUI
  return quillmark::runApplication(argc, argv, profile);
#endif
  std::fputs("quillmark: the windows are not available yet; run with --headless\n", stderr);
  std::fputs(kUsage, stderr);
  return 2;
}
