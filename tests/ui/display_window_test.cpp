// The display window, its gear and popover, the style editor inside it, and the content it is fed.

#include "ui/display_window.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "ui/big_timecode_content.h"
#include "ui/color_panel.h"
#include "ui/gear_button.h"
#include "ui/style_editor.h"

namespace quillmark {
namespace {

// A closed display window deletes itself later; this is later.
void deleteClosedWindows() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Chooses an entry the way the picker's pop-up list does: it becomes current, then is announced.
void choose(QComboBox* picker, const QString& entry) {
  const int index = picker->findText(entry);
  ASSERT_GE(index, 0) << entry.toStdString();
  picker->setCurrentIndex(index);
  emit picker->activated(index);
}

// A display window opened as the main window opens it, closed and deleted at the end.
class DisplayWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (slot) slot->close();
    deleteClosedWindows();
  }
  QPointer<DisplayWindow> slot;
  DisplayWindow* window = DisplayWindow::openOrRaise(slot, DisplayStyle{});
};

// Control-W closes it even with the popover open, and the window deletes itself.
TEST_F(DisplayWindowTest, AlwaysOnTopChangesTheLevelInPlaceAndFullScreenComesAndGoesUntilControlW) {
  EXPECT_EQ(DisplayWindow::openOrRaise(slot, DisplayStyle{}), window) << "opened again rather than raised";
  EXPECT_FALSE(window->isAlwaysOnTop());
  const QWindow* native = window->windowHandle();
  ASSERT_NE(native, nullptr);
  QSignalSpy edits(window, &DisplayWindow::styleEdited);
  QTest::mouseClick(window->editor()->alwaysOnTopSwitch(), Qt::LeftButton);
  EXPECT_TRUE(window->isAlwaysOnTop());
  EXPECT_TRUE(window->windowHandle()->flags().testFlag(Qt::FramelessWindowHint));  // no title bar
  EXPECT_TRUE(window->style().alwaysOnTop);
  EXPECT_EQ(edits.count(), 1);
  EXPECT_EQ(window->windowHandle(), native);  // the same native window, never reopened

  // The stored style coming back is no new edit; switching it off from outside lowers the window.
  DisplayStyle stored = window->style();
  window->setStyle(stored);
  stored.alwaysOnTop = false;
  window->setStyle(stored);
  EXPECT_FALSE(window->isAlwaysOnTop());
  EXPECT_FALSE(window->editor()->alwaysOnTopSwitch()->isChecked());
  EXPECT_EQ(edits.count(), 1);

  QTest::keyClick(window, Qt::Key_F11);
  EXPECT_TRUE(window->isFullScreen());
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_FALSE(window->isFullScreen());
  QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(300, 100));
  EXPECT_TRUE(window->isFullScreen());
  QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(300, 100));
  EXPECT_FALSE(window->isFullScreen());
  window->setEditing(true);
  QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
  deleteClosedWindows();
  EXPECT_TRUE(slot.isNull());
}

TEST_F(DisplayWindowTest, GearShowsOnHoverAndStaysWhileItsPopoverIsOpen) {
  GearButton* gear = window->gearButton();
  EXPECT_FALSE(gear->isShown());

  QEnterEvent enter(QPointF(100, 100), QPointF(100, 100), window->mapToGlobal(QPointF(100, 100)));
  QCoreApplication::sendEvent(window, &enter);
  EXPECT_TRUE(gear->isShown());
  QTest::mouseClick(gear, Qt::LeftButton);
  EXPECT_TRUE(window->isEditing());
  EXPECT_TRUE(window->popover()->isVisible());
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(window, &leave);
  EXPECT_TRUE(gear->isShown());  // still editing

  // A preset chosen in the popover restyles the window at once and is announced for storing.
  QSignalSpy edits(window, &DisplayWindow::styleEdited);
  window->editor()->choosePreset("Black on white");
  EXPECT_EQ(window->view()->style(), *DisplayStyle::preset("Black on white"));
  // The colour chooser opens inside the popover, which stays open; every colour it moves through is
  // written through at once (50 % opacity is stored as alpha 0.5), and "Cancel" puts the old one back.
  QTest::mouseClick(window->editor()->backgroundWell(), Qt::LeftButton);
  ColorPanel* panel = window->editor()->colorPanel();
  ASSERT_EQ(panel->well(), window->editor()->backgroundWell());
  EXPECT_TRUE(panel->isVisible());
  EXPECT_TRUE(window->popover()->isVisible());
  EXPECT_TRUE(panel->chooser()->testOption(QColorDialog::ShowAlphaChannel));
  EXPECT_FALSE(panel->chooser()->isWindow());
  panel->chooser()->setCurrentColor(QColor(0, 0, 255, 128));
  EXPECT_NEAR(window->style().background.alpha, 0.5, 0.005);
  panel->chooser()->setCurrentColor(QColor(0, 128, 0));
  EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0, 128, 0));
  QTest::mouseClick(window->editor()->textWell(), Qt::LeftButton);  // another well keeps this colour
  EXPECT_NEAR(window->style().background.green, 128 / 255.0, 1e-6);
  ASSERT_EQ(panel->well(), window->editor()->textWell());
  panel->chooser()->setCurrentColor(QColor(255, 0, 0));
  EXPECT_EQ(window->view()->style().text, (RGBA{1, 0, 0, 1}));
  panel->chooser()->reject();
  EXPECT_EQ(window->style().text, DisplayStyle::preset("Black on white")->text);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_TRUE(window->popover()->isVisible());
  QTest::mouseClick(window->editor()->textWell(), Qt::LeftButton);  // opens again after "Cancel"
  EXPECT_TRUE(panel->chooser()->isVisible());
  panel->chooser()->accept();
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(edits.last().at(0).value<DisplayStyle>(), window->style());  // each step announced for storing

  window->popover()->hide();  // closed from outside, as a click elsewhere does
  EXPECT_FALSE(window->isEditing());
  EXPECT_FALSE(gear->isShown());
}

TEST(StyleEditor, WeightPickerAndSegmentSwitchesTakeTurnsAndAPresetIsOneEdit) {
  StyleEditor editor;
  ASSERT_EQ(editor.style().typeface, Typeface::segments);
  EXPECT_TRUE(editor.isRowShown(editor.ghostSegmentsSwitch()));
  EXPECT_FALSE(editor.isRowShown(editor.weightPicker()));

  choose(editor.typefacePicker(), "SF Mono");
  EXPECT_EQ(editor.style().typeface, Typeface::mono);
  EXPECT_TRUE(editor.isRowShown(editor.weightPicker()));
  EXPECT_FALSE(editor.isRowShown(editor.ghostSegmentsSwitch()));
  EXPECT_FALSE(editor.isRowShown(editor.slantedSwitch()));
  choose(editor.weightPicker(), "Heavy");
  EXPECT_EQ(editor.style().weight, Weight::heavy);

  choose(editor.typefacePicker(), "LED segments");
  EXPECT_TRUE(editor.isRowShown(editor.slantedSwitch()));
  choose(editor.typefacePicker(), "Menlo");
  EXPECT_EQ(editor.weightPicker()->currentText(), "Heavy");  // the weight survived the trip
  EXPECT_EQ(editor.style().weight, Weight::heavy);

  editor.show();
  QTest::mouseClick(editor.showFramesSwitch(), Qt::LeftButton);  // switches write through at once
  EXPECT_FALSE(editor.style().showFrames);

  // A preset is one edit, the rows show its values and the picker reads "Choose…" again.
  QSignalSpy changes(&editor, &StyleEditor::styleChanged);
  choose(editor.presetPicker(), "Broadcast");
  ASSERT_EQ(changes.count(), 1);
  EXPECT_EQ(changes.at(0).at(0).value<DisplayStyle>(), *DisplayStyle::preset("Broadcast"));
  EXPECT_EQ(editor.presetPicker()->currentText(), QString::fromUtf8("Choose\u2026"));
  EXPECT_EQ(editor.typefacePicker()->currentText(), "DIN");
  editor.choosePreset("Neon");  // an unknown name changes nothing
  EXPECT_EQ(changes.count(), 1);
}

TEST(BigTimecodeContent, BuildsTextAndStatusLineFromTheStatus) {
  DisplayStyle style;
  DisplayedStatus status;
  status.timecode = Timecode{1, 2, 3, 4};
  status.rate = FrameRate::fps29_97DF;
  status.state = TimecodeClock::State::locked;
  EXPECT_EQ(bigTimecodeContent(status, style, false).text, "01:02:03;04");
  EXPECT_EQ(bigTimecodeContent(status, style, false).info, "LOCKED  \u00B7  29.97 DF fps");
  style.showFrames = false;
  status = DisplayedStatus{};
  EXPECT_EQ(bigTimecodeContent(status, style, false).text, "--:--:--");
  EXPECT_EQ(bigTimecodeContent(status, style, false).info, "NO TIMECODE");

  // An input stopped on a label shows it as stopped, whatever the generator does; the generator's own
  // status lines are the main window test's.
  status.timecode = Timecode{10, 0, 0, 0};
  status.rate = FrameRate::fps25;
  status.held = status.generatorRunning = true;
  EXPECT_EQ(
      bigTimecodeContent(status, style, false),
      (BigTimecodeView::Content{"10:00:00", status.state, true, true, false, "STOPPED  \u00B7  25 fps"}));
}

}  // namespace
}  // namespace quillmark
