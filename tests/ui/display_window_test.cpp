#include "ui/display_window.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "ui/big_timecode_content.h"
#include "ui/color_well.h"
#include "ui/gear_button.h"
#include "ui/style_editor.h"

namespace quillmark {
namespace {

void deleteClosedWindows() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void pointerEnters(QWidget* window) {
  QEnterEvent enter(QPointF(100, 100), QPointF(100, 100), window->mapToGlobal(QPointF(100, 100)));
  QCoreApplication::sendEvent(window, &enter);
}

void pointerLeaves(QWidget* window) {
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(window, &leave);
}

TEST(DisplayWindow, OpensAndClosesAnyNumberOfTimes) {
  QPointer<DisplayWindow> slot;
  for (int opening = 0; opening < 20; ++opening) {
    DisplayWindow* window = DisplayWindow::openOrRaise(slot, DisplayStyle{});
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Timecode Display");
    EXPECT_EQ(window->size(), QSize(900, 280));
    EXPECT_EQ(window->minimumSize(), QSize(240, 90));
    // A second request brings the same window forward instead of opening another.
    EXPECT_EQ(DisplayWindow::openOrRaise(slot, DisplayStyle{}), window);

    window->showContent(
        BigTimecodeView::Content{"10:00:00:00", TimecodeClock::State::locked, false, false, false, "LOCKED"});
    window->setEditing(opening % 2 == 0);  // closing with the popover open must be as clean
    EXPECT_TRUE(window->close());
    deleteClosedWindows();
    EXPECT_TRUE(slot.isNull()) << "opening " << opening;
  }
}

TEST(DisplayWindow, AlwaysOnTopChangesTheLevelInPlace) {
  QPointer<DisplayWindow> slot;
  DisplayWindow* window = DisplayWindow::openOrRaise(slot, DisplayStyle{});
  EXPECT_FALSE(window->isAlwaysOnTop());
  const QWindow* native = window->windowHandle();
  ASSERT_NE(native, nullptr);

  QSignalSpy edits(window, &DisplayWindow::styleEdited);
  QTest::mouseClick(window->editor()->alwaysOnTopSwitch(), Qt::LeftButton);
  EXPECT_TRUE(window->isAlwaysOnTop());
  EXPECT_TRUE(window->style().alwaysOnTop);
  EXPECT_EQ(edits.count(), 1);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowHandle(), native);  // the same native window, never reopened

  // The stored style coming back is no new edit; switching it off from outside lowers the window.
  DisplayStyle stored = window->style();
  window->setStyle(stored);
  stored.alwaysOnTop = false;
  window->setStyle(stored);
  EXPECT_FALSE(window->isAlwaysOnTop());
  EXPECT_FALSE(window->editor()->alwaysOnTopSwitch()->isChecked());
  EXPECT_EQ(edits.count(), 1);
  EXPECT_TRUE(window->isVisible());
  window->close();
  deleteClosedWindows();
}

TEST(DisplayWindow, GoesFullScreenAndBack) {
  QPointer<DisplayWindow> slot;
  DisplayWindow* window = DisplayWindow::openOrRaise(slot, DisplayStyle{});
  QTest::keyClick(window, Qt::Key_F11);
  EXPECT_TRUE(window->isFullScreen());
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_FALSE(window->isFullScreen());
  QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(300, 100));
  EXPECT_TRUE(window->isFullScreen());
  QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(300, 100));
  EXPECT_FALSE(window->isFullScreen());
  EXPECT_TRUE(window->isVisible());
  QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);  // closes
  deleteClosedWindows();
  EXPECT_TRUE(slot.isNull());
}

TEST(DisplayWindow, GearShowsOnHoverAndStaysWhileItsPopoverIsOpen) {
  QPointer<DisplayWindow> slot;
  DisplayWindow* window = DisplayWindow::openOrRaise(slot, DisplayStyle{});
  GearButton* gear = window->gearButton();
  EXPECT_FALSE(gear->isShown());
  EXPECT_EQ(gear->toolTip(), "Style the display");
  // Top trailing corner: 8 from the right edge.
  EXPECT_EQ(gear->geometry().right() + 1, window->width() - 8);

  pointerEnters(window);
  EXPECT_TRUE(gear->isShown());
  QTest::mouseClick(gear, Qt::LeftButton);
  EXPECT_TRUE(window->isEditing());
  EXPECT_TRUE(window->popover()->isVisible());
  pointerLeaves(window);
  EXPECT_TRUE(gear->isShown());  // still editing

  // Choosing a preset in the popover restyles the window at once and is announced for storing.
  QSignalSpy edits(window, &DisplayWindow::styleEdited);
  window->editor()->choosePreset("Black on white");
  EXPECT_EQ(window->view()->style(), *DisplayStyle::preset("Black on white"));
  EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(edits.count(), 1);

  // The colour dialog opened from the popover reaches the window too.
  QTest::mouseClick(window->editor()->backgroundWell(), Qt::LeftButton);
  QColorDialog* dialog = window->editor()->backgroundWell()->dialog();
  ASSERT_NE(dialog, nullptr);
  dialog->setCurrentColor(QColor(0, 0, 255));
  dialog->accept();
  EXPECT_EQ(window->style().background, (RGBA{0, 0, 1, 1}));
  EXPECT_EQ(edits.count(), 2);

  window->popover()->hide();  // closed from outside, as a click elsewhere does
  EXPECT_FALSE(window->isEditing());
  EXPECT_FALSE(gear->isShown());
  window->close();
  deleteClosedWindows();
}

TEST(BigTimecodeContent, BuildsTextAndStatusLineFromTheStatus) {
  DisplayStyle style;
  DisplayedStatus status;
  status.timecode = Timecode{1, 2, 3, 4};
  status.rate = FrameRate::fps29_97DF;
  status.state = TimecodeClock::State::locked;

  BigTimecodeView::Content content = bigTimecodeContent(status, style, false);
  EXPECT_EQ(content.text, "01:02:03;04");
  EXPECT_EQ(content.info, "LOCKED  \u00B7  29.97 DF fps");

  style.showFrames = false;
  EXPECT_EQ(bigTimecodeContent(status, style, false).text, "01:02:03");
  status.timecode.reset();
  status.rate.reset();
  status.state = TimecodeClock::State::stopped;
  content = bigTimecodeContent(status, style, false);
  EXPECT_EQ(content.text, "--:--:--");
  EXPECT_EQ(content.info, "NO TIMECODE");

  // The generator, stopped at 25 fps.
  status.timecode = Timecode{10, 0, 0, 0};
  status.rate = FrameRate::fps25;
  status.held = true;
  style.showFrames = true;
  content = bigTimecodeContent(status, style, true);
  EXPECT_EQ(content.text, "10:00:00:00");
  EXPECT_EQ(content.info, "STOPPED  \u00B7  25 fps");
  EXPECT_TRUE(content.generator);
  EXPECT_TRUE(content.held);
  EXPECT_FALSE(content.running);
  status.generatorRunning = true;
  EXPECT_EQ(bigTimecodeContent(status, style, true).info, "RUNNING  \u00B7  25 fps");
  // An input that stopped on a label still shows it, as stopped rather than lost.
  status.state = TimecodeClock::State::stopped;
  EXPECT_EQ(bigTimecodeContent(status, style, false).info, "STOPPED  \u00B7  25 fps");
}

}  // namespace
}  // namespace quillmark
