// settings_probe <config dir> write <text> [--profile NAME] : stores <text> as mtcInputName and turns on
//                                                             alwaysOnTop for this process's profile.
// settings_probe <config dir> read [--profile NAME]          : prints "<mtcInputName>|<alwaysOnTop>".
#include <QSettings>
#include <QString>
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
  const std::string command = argv[2];
  if (command == "write" && argc >= 4) {
    settings.mtcInputName = argv[3];
    style.alwaysOnTop = true;
    return persistence.saveSettings(settings) && persistence.saveDisplayStyle(style) ? 0 : 1;
  }
  if (command == "read") {
    std::printf("%s|%d\n", settings.mtcInputName.c_str(), style.alwaysOnTop ? 1 : 0);
    return 0;
  }
  return 2;
}
