// settings_probe <config dir> write <text> ... : stores <text> as mtcInputName, turns on alwaysOnTop.
// settings_probe <config dir> read ...         : prints "<mtcInputName>|<alwaysOnTop>".
// The profile comes from the whole command line, as in the application.
#include <QSettings>
#include <cstdio>
#include <string>

#include "app/persistence.h"
#include "app/profile.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(argv[1]));
  quillmark::Persistence persistence(quillmark::processProfile());
  quillmark::Settings settings = persistence.loadSettings();
  quillmark::DisplayStyle style = persistence.loadDisplayStyle();
  if (std::string(argv[2]) == "read")
    return std::printf("%s|%d\n", settings.mtcInputName.c_str(), style.alwaysOnTop) < 0;
  settings.mtcInputName = argc > 3 ? argv[3] : "";
  style.alwaysOnTop = true;
  return persistence.saveSettings(settings) && persistence.saveDisplayStyle(style) ? 0 : 1;
}
