// faults_write_settings <config dir> <LTC input uid> <LTC output uid>: stores the settings of the road the
// fault tests and scripts/cost.sh run (LTC in, MTC out to our virtual port, LTC out) as the default
// profile's record under <config dir>, through the same persistence the application reads.

#include <QSettings>
#include <cstdio>

#include "app/persistence.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: faults_write_settings CONFIG_DIR INPUT_UID OUTPUT_UID\n");
    return 2;
  }
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(argv[1]));
  quillmark::Settings settings;
  settings.source = quillmark::SourceKind::ltc;
  settings.ltcInputUID = argv[2];
  settings.mtcOutEnabled = true;
  settings.mtcOutName = "Virtual port";
  settings.ltcOutEnabled = true;
  settings.ltcOutUID = argv[3];
  return quillmark::Persistence(std::nullopt).saveSettings(settings) ? 0 : 1;
}
