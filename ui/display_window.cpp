#include "ui/display_window.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/color_panel.h"
#include "ui/gear_button.h"
#include "ui/rgba_color.h"
#include "ui/style_editor.h"

namespace quillmark {

namespace {

// Where the gear sits: 5.5 from the top and 8 from the trailing edge, on whole pixels.
constexpr int kGearTop = 5;
constexpr int kGearTrailing = 8;

QColor opaque(QColor color) {
  color.setAlphaF(1.0f);
  return color;
}

}  // namespace

DisplayWindow::DisplayWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Timecode Display"));
  setMinimumSize(kMinimumSize);
  resize(kDefaultSize);
  setMouseTracking(true);

  view_ = new BigTimecodeView(this);
  view_->setMinimumSize(0, 0);
  // The view only draws; presses, drags and the context menu belong to the window.
  view_->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);

  gear_ = new GearButton(this);
  gear_->setToolTip(tr("Style the display"));
  gear_->setAccessibleName(tr("Style the display"));
  gear_->raise();
  connect(gear_, &GearButton::clicked, this, [this] { setEditing(!editing_); });

  popover_ = new QFrame(this, Qt::Popup);
  popover_->setFrameShape(QFrame::StyledPanel);
  // A press on the gear that closes the popover must not reach the gear again and reopen it.
  popover_->setAttribute(Qt::WA_NoMouseReplay);
  auto* popoverLayout = new QVBoxLayout(popover_);
  popoverLayout->setContentsMargins(0, 0, 0, 0);
  popoverLayout->setSizeConstraint(QLayout::SetFixedSize);
  editor_ = new StyleEditor(popover_);
  popoverLayout->addWidget(editor_);
  popover_->installEventFilter(this);
  connect(editor_, &StyleEditor::styleChanged, this, [this](const DisplayStyle& style) {
    setStyle(style);
    emit styleEdited(style);
  });

  applyBackground(view_->style().background);
  placeGear();
  updateGear();
}

DisplayWindow::~DisplayWindow() = default;

DisplayWindow* DisplayWindow::openOrRaise(QPointer<DisplayWindow>& slot, const DisplayStyle& style) {
  if (!slot) slot = new DisplayWindow();
  slot->setStyle(style);
  slot->show();
  slot->raise();
  slot->activateWindow();
  return slot;
}

const DisplayStyle& DisplayWindow::style() const {
  return view_->style();
}

void DisplayWindow::setStyle(const DisplayStyle& style) {
  view_->setStyle(style);
  editor_->setStyle(style);
  applyWindowLevel(style.alwaysOnTop);
  applyBackground(style.background);
}

void DisplayWindow::showContent(const BigTimecodeView::Content& content) {
  view_->showContent(content);
}

bool DisplayWindow::isAlwaysOnTop() const {
  if (const QWindow* handle = windowHandle()) return handle->flags().testFlag(Qt::WindowStaysOnTopHint);
  return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void DisplayWindow::applyWindowLevel(bool floating) {
  if (isAlwaysOnTop() == floating) return;
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, floating);
  if (QWindow* handle = windowHandle()) {
    // QWidget::setWindowFlags would hide the window and leave it to be shown again; the native window
    // takes the new level in place, and the widget is only told what it now is.
    overrideWindowFlags(flags);
    handle->setFlags(flags);
  } else {
    setWindowFlags(flags);
  }
}

void DisplayWindow::applyBackground(const RGBA& background) {
  const QColor color = opaque(toQColor(background));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, color);
  setPalette(palette);
  setAutoFillBackground(true);
  gear_->setBackdrop(color);
}

void DisplayWindow::setEditing(bool editing) {
  if (editing == editing_) return;
  editing_ = editing;
  if (editing_) {
    popover_->adjustSize();
    placePopover();
    popover_->show();
  } else {
    popover_->hide();
  }
  updateGear();
}

void DisplayWindow::placePopover() {
  // Under the gear, its trailing edge lined up with the gear's, kept on the screen. A popover that grows
  // (the colour chooser opening beside the form) is placed again, so it grows away from the gear.
  const QPoint gearBottomRight = gear_->mapToGlobal(QPoint(gear_->width(), gear_->height() + 4));
  QPoint topLeft(gearBottomRight.x() - popover_->width(), gearBottomRight.y());
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    topLeft.setX(
        std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - popover_->width())));
    topLeft.setY(
        std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() - popover_->height())));
  }
  popover_->move(topLeft);
}

void DisplayWindow::popoverClosed() {
  if (!editing_) return;
  // Closed from outside (a click elsewhere, Escape). Whether the pointer is still over the window is for
  // the enter and leave events Qt sends as the popup goes.
  editing_ = false;
  updateGear();
}

void DisplayWindow::setHovering(bool hovering) {
  if (hovering == hovering_) return;
  hovering_ = hovering;
  updateGear();
}

void DisplayWindow::updateGear() {
  gear_->setShown(hovering_ || editing_);
}

void DisplayWindow::placeGear() {
  const int x =
      layoutDirection() == Qt::RightToLeft ? kGearTrailing : width() - kGearTrailing - gear_->width();
  gear_->move(x, kGearTop);
}

void DisplayWindow::toggleFullScreen() {
  if (isFullScreen()) {
    showNormal();
  } else {
    showFullScreen();
  }
}

void DisplayWindow::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  setHovering(true);
}

void DisplayWindow::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  setHovering(false);
}

void DisplayWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    pressed_ = true;
    pressPosition_ = event->position().toPoint();
  }
  QWidget::mousePressEvent(event);
}

void DisplayWindow::mouseMoveEvent(QMouseEvent* event) {
  setHovering(true);
  // The move is handed to the window manager only once the press has become a drag, so that a double
  // click still reaches us.
  if (pressed_ && (event->buttons() & Qt::LeftButton) &&
      (event->position().toPoint() - pressPosition_).manhattanLength() >= QApplication::startDragDistance()) {
    pressed_ = false;
    if (!isFullScreen() && windowHandle()) windowHandle()->startSystemMove();
  }
  QWidget::mouseMoveEvent(event);
}

void DisplayWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    pressed_ = false;
    toggleFullScreen();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

void DisplayWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F11 || (event->matches(QKeySequence::FullScreen))) {
    toggleFullScreen();
    return;
  }
  if (event->matches(QKeySequence::Close)) {
    close();
    return;
  }
  if (event->key() == Qt::Key_Escape && isFullScreen()) {
    showNormal();
    return;
  }
  QWidget::keyPressEvent(event);
}

void DisplayWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* fullScreen = menu.addAction(isFullScreen() ? tr("Exit Full Screen") : tr("Enter Full Screen"));
  fullScreen->setShortcut(QKeySequence(Qt::Key_F11));
  QAction* onTop = menu.addAction(tr("Always on Top"));
  onTop->setCheckable(true);
  onTop->setChecked(style().alwaysOnTop);
  QAction* edit = menu.addAction(tr("Style the Display\u2026"));
  menu.addSeparator();
  QAction* close = menu.addAction(tr("Close"));
  close->setShortcut(QKeySequence::Close);

  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == fullScreen) {
    toggleFullScreen();
  } else if (chosen == onTop) {
    DisplayStyle next = style();
    next.alwaysOnTop = !next.alwaysOnTop;
    setStyle(next);
    emit styleEdited(next);
  } else if (chosen == edit) {
    setEditing(true);
  } else if (chosen == close) {
    this->close();
  }
}

bool DisplayWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == popover_ && event->type() == QEvent::Hide) {
    // A colour being chosen keeps what it shows when the popover goes, however it was closed.
    editor_->colorPanel()->keep();
    popoverClosed();
  }
  if (watched == popover_ && event->type() == QEvent::Resize && editing_) placePopover();
  return QWidget::eventFilter(watched, event);
}

void DisplayWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeGear();
}

}  // namespace quillmark
