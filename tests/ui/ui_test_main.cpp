// The widget tests' main: one QApplication for the whole binary on Qt's offscreen platform, with a private
// runtime directory, so that no test needs or touches a display. The offscreen screen is a common
// desktop's 1920 x 1080 rather than the platform's default 800 x 600, so windows get the room they would.

#include <cstdlib>
#include <fstream>
#include <string>

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  std::string runtime = "/tmp/quillmark-ui-tests-XXXXXX";
  std::string platform = "offscreen";
  const bool privateRuntime = ::mkdtemp(runtime.data()) != nullptr;
  const std::string screens = runtime + "/screens.json";
  if (privateRuntime) {
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::ofstream(screens)
        << R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920, "height": 1080,)"
        << R"( "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]})";
    platform += ":configfile=" + screens;
  }
  ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  int result = 1;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  if (privateRuntime) ::unlink(screens.c_str()), ::rmdir(runtime.c_str());
  return result;
}
