#pragma once
// QuillmarkApp: the application's outermost shell. It owns the one TimecodeStore for the life of the
// process, shows the main window, and opens the "Timecode Display" window (from the Window menu, Ctrl+
// Shift+D, or the main window's pop-out button), or brings it forward when it is already open.
//
// While the display window is open it is fed from the store: every live status becomes the big display's
// content, built with the store's current display style and whether the generator is the source; a style
// edited in the window is stored (and so persisted), and a stored style or source change shows at once.
// Each opening makes a new window whose connections end when it closes.
// runApplication is the windowed start of the quillmark executable.
// Threads: main thread only; a QApplication must exist before a QuillmarkApp.

#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>

#include "app/timecode_store.h"
#include "ui/display_window.h"
#include "ui/main_window.h"

namespace quillmark {

class QuillmarkApp : public QObject {
  Q_OBJECT

 public:
  // Takes the store (tests build one with their own settings file); none makes one without a profile.
  explicit QuillmarkApp(std::unique_ptr<TimecodeStore> store = nullptr, QObject* parent = nullptr);
  ~QuillmarkApp() override;

  TimecodeStore& store() { return *store_; }
  MainWindow& mainWindow() { return *main_; }

  // Opens the display window, or brings the open one forward.
  DisplayWindow* openDisplay();
  // The open display window; null when it is closed.
  DisplayWindow* displayWindow() const { return display_; }

 private:
  void showInDisplay();

  std::unique_ptr<TimecodeStore> store_;
  std::unique_ptr<MainWindow> main_;
  QPointer<DisplayWindow> display_;  // the window deletes itself when closed
};

// Builds the QApplication, the store of `profile` (from "--profile NAME"; none without one) and the
// windows and runs until the last window closes; returns the exit code. The caller has handled --help,
// --version and --headless.
int runApplication(int argc, char** argv, const std::optional<std::string>& profile);

}  // namespace quillmark
