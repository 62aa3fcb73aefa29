#include "ui/style_editor.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

#include "ui/color_well.h"

namespace quillmark {
namespace {

// Chooses an entry the way the picker's pop-up list does: it becomes current, then is announced.
void choose(QComboBox* picker, const QString& entry) {
  const int index = picker->findText(entry);
  ASSERT_GE(index, 0) << entry.toStdString();
  picker->setCurrentIndex(index);
  emit picker->activated(index);
}

TEST(StyleEditor, BroadcastPresetKeepsAlwaysOnTopAndThePickerReadsChooseAgain) {
  StyleEditor editor;
  DisplayStyle floating;
  floating.alwaysOnTop = true;
  editor.setStyle(floating);
  QSignalSpy changes(&editor, &StyleEditor::styleChanged);
  EXPECT_EQ(changes.count(), 0);  // a style shown from outside is not an edit

  choose(editor.presetPicker(), "Broadcast");
  DisplayStyle broadcast = *DisplayStyle::preset("Broadcast");
  broadcast.alwaysOnTop = true;
  EXPECT_EQ(editor.style(), broadcast);
  ASSERT_EQ(changes.count(), 1);
  EXPECT_EQ(changes.at(0).at(0).value<DisplayStyle>(), broadcast);
  EXPECT_EQ(editor.presetPicker()->currentText(), QString::fromUtf8("Choose\u2026"));
  EXPECT_TRUE(editor.alwaysOnTopSwitch()->isChecked());
  EXPECT_EQ(editor.typefacePicker()->currentText(), "DIN");

  // Every preset is offered, after "Choose…", in list order; an unknown name changes nothing.
  ASSERT_EQ(editor.presetPicker()->count(), 7);
  EXPECT_EQ(editor.presetPicker()->itemText(1), "Amber LED");
  EXPECT_EQ(editor.presetPicker()->itemText(6), "Black on white");
  editor.choosePreset("Neon");
  EXPECT_EQ(editor.style(), broadcast);
  EXPECT_EQ(changes.count(), 1);
}

TEST(StyleEditor, WeightPickerAndSegmentSwitchesTakeTurns) {
  StyleEditor editor;
  ASSERT_EQ(editor.style().typeface, Typeface::segments);
  EXPECT_TRUE(editor.isRowShown(editor.ghostSegmentsSwitch()));
  EXPECT_TRUE(editor.isRowShown(editor.slantedSwitch()));
  EXPECT_FALSE(editor.isRowShown(editor.weightPicker()));

  choose(editor.typefacePicker(), "SF Mono");
  EXPECT_EQ(editor.style().typeface, Typeface::mono);
  EXPECT_TRUE(editor.isRowShown(editor.weightPicker()));
  EXPECT_FALSE(editor.isRowShown(editor.ghostSegmentsSwitch()));
  EXPECT_FALSE(editor.isRowShown(editor.slantedSwitch()));
  choose(editor.weightPicker(), "Heavy");
  EXPECT_EQ(editor.style().weight, Weight::heavy);

  choose(editor.typefacePicker(), "LED segments");
  EXPECT_FALSE(editor.isRowShown(editor.weightPicker()));
  choose(editor.typefacePicker(), "Menlo");
  EXPECT_EQ(editor.weightPicker()->currentText(), "Heavy");  // the weight survived the trip
  EXPECT_EQ(editor.style().weight, Weight::heavy);
}

TEST(StyleEditor, SwitchesAndColourWellsWriteThroughAtOnce) {
  StyleEditor editor;
  editor.show();
  QSignalSpy changes(&editor, &StyleEditor::styleChanged);

  QTest::mouseClick(editor.alwaysOnTopSwitch(), Qt::LeftButton);
  EXPECT_TRUE(editor.style().alwaysOnTop);
  QTest::mouseClick(editor.showFramesSwitch(), Qt::LeftButton);
  EXPECT_FALSE(editor.style().showFrames);
  EXPECT_EQ(changes.count(), 2);

  // A colour picked at 50 % opacity is stored with alpha 0.5.
  QTest::mouseClick(editor.textWell(), Qt::LeftButton);
  QColorDialog* dialog = editor.textWell()->dialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
  dialog->setCurrentColor(QColor(0, 128, 255, 128));
  dialog->accept();
  EXPECT_NEAR(editor.style().text.alpha, 0.5, 0.005);
  EXPECT_NEAR(editor.style().text.blue, 1.0, 1e-6);
  EXPECT_EQ(changes.count(), 3);
  EXPECT_EQ(editor.textWell()->color().alpha(), 128);
}

}  // namespace
}  // namespace quillmark
