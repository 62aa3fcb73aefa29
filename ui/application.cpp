#include "ui/application.h"

#include <QApplication>
#include <QIcon>

#include "app/timecode_store.h"
#include "ui/app_icon.h"
#include "ui/big_timecode_content.h"
#include "ui/display_window.h"
#include "ui/displayed_status.h"
#include "ui/main_window.h"

namespace quillmark {

QuillmarkApp::QuillmarkApp(std::unique_ptr<TimecodeStore> store, QObject* parent)
    : QObject(parent), store_(store ? std::move(store) : std::make_unique<TimecodeStore>(std::nullopt)) {
  main_ = std::make_unique<MainWindow>(*store_);
  connect(main_.get(), &MainWindow::displayRequested, this, &QuillmarkApp::openDisplay);
}

QuillmarkApp::~QuillmarkApp() {
  // The display window is a top-level window of its own; it goes with the application, before the store
  // it reads from.
  delete display_.data();
  main_.reset();
}

DisplayWindow* QuillmarkApp::openDisplay() {
  const bool opening = display_.isNull();
  DisplayWindow* window = DisplayWindow::openOrRaise(display_, store_->displayStyle());
  if (!opening) return window;
  // Closing the main window ends Quillmark even while the display is open.
  window->setAttribute(Qt::WA_QuitOnClose, false);

  // Connections made with the window as context end when it closes and deletes itself.
  connect(&store_->live(), &LiveStatus::statusChanged, window, [this] { showInDisplay(); });
  connect(store_.get(), &TimecodeStore::settingsChanged, window, [this] { showInDisplay(); });
  connect(store_.get(), &TimecodeStore::displayStyleChanged, window, [this](const DisplayStyle& style) {
    if (!display_) return;
    if (display_->style() != style) display_->setStyle(style);
    showInDisplay();
  });
  connect(window, &DisplayWindow::styleEdited, store_.get(), &TimecodeStore::setDisplayStyle);
  showInDisplay();
  return window;
}

void QuillmarkApp::showInDisplay() {
  if (!display_) return;
  const bool generator = store_->settings().source == SourceKind::generator;
  display_->showContent(
      bigTimecodeContent(displayedStatus(store_->live().status()), store_->displayStyle(), generator));
}

int runApplication(int argc, char** argv, const std::optional<std::string>& profile) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  QApplication::setDesktopFileName(QStringLiteral("quillmark"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quillmark"), appIcon()));
  QuillmarkApp app(std::make_unique<TimecodeStore>(profile));
  app.mainWindow().show();
  QObject::connect(&application, &QApplication::aboutToQuit, &app, [&app] { app.store().shutdown(); });
  return QApplication::exec();
}

}  // namespace quillmark
