// Renders the display window to PNG files, once in each built-in style and once with a drop-frame label,
// plus the style editor, closed and with a colour being chosen, for the documentation. Runs on Qt's offscreen
// platform unless told otherwise. Usage: quillmark-display-screenshots [output directory]   (default:
// docs/screenshots)

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QColorDialog>
#include <QDeadlineTimer>
#include <QDir>
#include <QEnterEvent>
#include <QFrame>
#include <QPainter>

#include "ui/big_timecode_content.h"
#include "ui/color_panel.h"
#include "ui/display_window.h"
#include "ui/style_editor.h"
#include "ui/tools/save_png.h"

namespace {

using namespace quillmark;

// Lets layout, painting and the gear's fade finish before grabbing.
void settle(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

QString fileName(std::string_view presetName) {
  QString name = QString::fromUtf8(presetName.data(), static_cast<qsizetype>(presetName.size())).toLower();
  name.replace(' ', '-');
  return "display-" + name + ".png";
}

// The window with its popover over it, each where it is on the screen, on a transparent ground.
QPixmap withPopover(DisplayWindow& window) {
  const QRect windowArea = window.geometry();
  const QRect popoverArea = window.popover()->geometry();
  const QRect all = windowArea.united(popoverArea);
  QPixmap canvas(all.size());
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.drawPixmap(windowArea.topLeft() - all.topLeft(), window.grab());
  painter.drawPixmap(popoverArea.topLeft() - all.topLeft(), window.popover()->grab());
  return canvas;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const QDir directory(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots"));
  if (!QDir().mkpath(directory.path())) {
    std::fprintf(stderr, "could not create %s\n", qPrintable(directory.path()));
    return 1;
  }

  DisplayedStatus locked;
  locked.timecode = Timecode{10, 24, 37, 12};
  locked.rate = FrameRate::fps25;
  locked.state = TimecodeClock::State::locked;

  bool ok = true;
  QPointer<DisplayWindow> slot;
  for (const auto& preset : DisplayStyle::presets()) {
    DisplayWindow* window = DisplayWindow::openOrRaise(slot, preset.style);
    window->showContent(bigTimecodeContent(locked, preset.style, false));
    QEvent leave(QEvent::Leave);  // the pointer is elsewhere: no gear
    QApplication::sendEvent(window, &leave);
    settle(400);
    ok = savePng(window->grab(), directory, fileName(preset.name)) && ok;
  }

  // Drop frame, with the pointer over the window so that the gear shows.
  DisplayedStatus dropFrame = locked;
  dropFrame.timecode = Timecode{1, 0, 0, 2};
  dropFrame.rate = FrameRate::fps29_97DF;
  const DisplayStyle amber;
  DisplayWindow* window = DisplayWindow::openOrRaise(slot, amber);
  window->showContent(bigTimecodeContent(dropFrame, amber, false));
  QEnterEvent enter(QPointF(450, 140), QPointF(450, 140), window->mapToGlobal(QPointF(450, 140)));
  QApplication::sendEvent(window, &enter);
  settle(400);
  ok = savePng(window->grab(), directory, "display-drop-frame.png") && ok;

  window->setEditing(true);
  settle(200);
  ok = savePng(window->popover()->grab(), directory, "display-style-editor.png") && ok;

  // A colour being chosen: the chooser opens beside the form, and the digits follow as it moves. The
  // window is made larger so that the digits show beside the popover.
  window->resize(1600, 500);
  settle(200);
  QApplication::sendEvent(window, &enter);
  window->editor()->textWell()->click();
  window->editor()->colorPanel()->chooser()->setCurrentColor(QColor(90, 200, 255));
  settle(300);
  ok = savePng(withPopover(*window), directory, "display-style-editor-colour.png") && ok;
  window->close();
  return ok ? 0 : 1;
}
