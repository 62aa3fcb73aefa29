#pragma once
// DisplayWindow: the "Timecode Display" window. It shows the running timecode in a BigTimecodeView filling
// the window, with a small gear button in the top trailing corner that appears while the pointer is over
// the window (or while its popover is open) and opens the StyleEditor in a popover.
//
// The window takes what it shows from outside: setStyle with the stored display style, showContent with
// each refresh's content. Edits made in the style editor show at once and are announced with styleEdited
// for the owner to store; the stored style coming back through setStyle is then a no-op.
//
// Window behaviour: no title bar or frame; always on top while the style says so (changed in place,
// without reopening), moved by dragging its background (the window manager's own move, so that it works
// on Wayland too), full screen with F11 or a double click (Escape leaves), closed with Ctrl+W.
// Each opening is a new window that deletes itself when closed; openOrRaise keeps to one at a time.
// Threads: main thread only.

#include <QPointer>
#include <QWidget>

#include "app/display_style.h"
#include "ui/big_timecode_view.h"

class QFrame;

namespace quillmark {

class GearButton;
class StyleEditor;

class DisplayWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr QSize kDefaultSize{900, 280};
  static constexpr QSize kMinimumSize{240, 90};

  explicit DisplayWindow(QWidget* parent = nullptr);
  ~DisplayWindow() override;

  // Opens a display window in `slot`, or brings the one already there forward, and shows `style` in it.
  static DisplayWindow* openOrRaise(QPointer<DisplayWindow>& slot, const DisplayStyle& style);

  const DisplayStyle& style() const;
  void setStyle(const DisplayStyle& style);
  void showContent(const BigTimecodeView::Content& content);

  // True while the window keeps itself above the others.
  bool isAlwaysOnTop() const;

  bool isHovering() const { return hovering_; }
  bool isEditing() const { return editing_; }
  // Opens or closes the style popover, as pressing the gear does.
  void setEditing(bool editing);

  BigTimecodeView* view() const { return view_; }
  GearButton* gearButton() const { return gear_; }
  StyleEditor* editor() const { return editor_; }
  QFrame* popover() const { return popover_; }

  QSize sizeHint() const override { return kDefaultSize; }

 signals:
  void styleEdited(const DisplayStyle& style);

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setHovering(bool hovering);
  void updateGear();
  void placeGear();
  void placePopover();
  void applyWindowLevel(bool floating);
  void applyBackground(const RGBA& background);
  void toggleFullScreen();
  void popoverClosed();

  BigTimecodeView* view_ = nullptr;  // parent-owned
  GearButton* gear_ = nullptr;       // parent-owned
  QFrame* popover_ = nullptr;        // parent-owned popup window holding the editor
  StyleEditor* editor_ = nullptr;    // owned by the popover
  bool hovering_ = false;
  bool editing_ = false;
  QPoint pressPosition_;  // where a left press began, for dragging the window
  bool pressed_ = false;
};

}  // namespace quillmark
