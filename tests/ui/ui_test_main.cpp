// The widget tests' main: one QApplication for the whole binary on Qt's offscreen platform, with a private
// runtime directory, so that no test needs or touches a display.

#include <cstdlib>
#include <string>

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string runtime = "/tmp/quillmark-ui-tests-XXXXXX";
  if (::mkdtemp(runtime.data()) != nullptr) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  ::rmdir(runtime.c_str());
  return result;
}
