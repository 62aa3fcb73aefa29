// Renders the main window to PNG files, once with each source, for the documentation. It runs the real
// store on a settings file of its own (the user's settings are never touched) and on whatever JACK server
// JACK_DEFAULT_SERVER names (scripts/screenshots.sh starts a private one), on Qt's offscreen platform
// unless told otherwise.
// Usage: quillmark-main-screenshots [output directory]   (default: docs)

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>

#include "app/persistence.h"
#include "app/timecode_store.h"
#include "ui/application.h"
#include "ui/log_section.h"
#include "ui/main_window.h"

namespace {

using namespace quillmark;

// Lets the store refresh and the window lay out and paint before grabbing.
void settle(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool save(QWidget& window, const QDir& directory, const QString& name) {
  const QString path = directory.filePath(name);
  if (!window.grab().save(path)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  const QDir directory(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));
  QTemporaryDir settingsDir;
  if (!QDir().mkpath(directory.path()) || !settingsDir.isValid()) {
    std::fprintf(stderr, "could not prepare %s\n", qPrintable(directory.path()));
    return 1;
  }

  auto persistence = std::make_unique<Persistence>(
      std::nullopt, settingsDir.filePath(QStringLiteral("quillmark.conf")).toStdString());
  QuillmarkApp app(std::make_unique<TimecodeStore>(std::move(persistence)));
  TimecodeStore& store = app.store();
  MainWindow& window = app.mainWindow();
  window.show();
  settle(300);

  bool ok = true;
  // LTC in, with the LTC output on beside it.
  Settings settings = store.settings();
  settings.source = SourceKind::ltc;
  settings.ltcOutEnabled = true;
  settings.mtcOutEnabled = false;
  store.setSettings(settings);
  settle(800);
  ok = save(window, directory, QStringLiteral("main-window-ltc.png")) && ok;

  // MTC in, with MTC out on our own virtual port.
  settings = store.settings();
  settings.source = SourceKind::mtc;
  settings.ltcOutEnabled = false;
  settings.mtcOutEnabled = true;
  store.setSettings(settings);
  settle(800);
  ok = save(window, directory, QStringLiteral("main-window-mtc.png")) && ok;

  // The generator running, both outputs on, the log open.
  settings = store.settings();
  settings.source = SourceKind::generator;
  settings.ltcOutEnabled = true;
  store.setSettings(settings);
  store.locate("10:00:00:00");
  store.play();
  window.logSection()->setExpanded(true);
  settle(1500);
  ok = save(window, directory, QStringLiteral("main-window-generator.png")) && ok;

  store.stop();
  store.shutdown();
  return ok ? 0 : 1;
}
