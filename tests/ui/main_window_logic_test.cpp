// The main window's texts, option lists and live views, checked without a store: badge words and colours,
// the info line's items, the pickers' entries, the detail rows, the level meter and the timecode line.

#include <cmath>

#include <gtest/gtest.h>
#include <QComboBox>
#include <QSignalSpy>
#include <QToolButton>

#include "ui/detail_rows.h"
#include "ui/info_line.h"
#include "ui/live_views.h"
#include "ui/picker_entries.h"
#include "ui/state_badge.h"
#include "ui/value_stepper.h"

// Statuses are written with designated initializers: the fields left out keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quillmark {
namespace {

using State = TimecodeClock::State;

QStringList titles(const std::vector<PickerEntry>& entries) {
  QStringList list;
  for (const PickerEntry& entry : entries) list << (entry.separator ? QStringLiteral("---") : entry.title);
  return list;
}

TEST(StateBadge, NamesEachStateInItsColourAndDrawsQuietWordsGrey) {
  const Timecode label{1, 0, 0, 0};
  const BadgeLook stopped{"STOPPED", ColorRole::secondaryLabel};
  EXPECT_EQ(badgeLook(SourceKind::ltc, {.state = State::freewheel}),
            (BadgeLook{"FREEWHEEL", ColorRole::orange}));
  EXPECT_EQ(badgeLook(SourceKind::mtc, {.state = State::locked}), (BadgeLook{"LOCKED", ColorRole::green}));
  EXPECT_EQ(badgeLook(SourceKind::ltc, {.state = State::acquiring}),
            (BadgeLook{"ACQUIRING", ColorRole::yellow}));
  EXPECT_EQ(badgeLook(SourceKind::ltc, {.timecode = label, .held = true}), stopped);
  EXPECT_EQ(badgeLook(SourceKind::mtc, {}), (BadgeLook{"NO TIMECODE", ColorRole::secondaryLabel}));
  // The generator reads its running flag, whatever the clock state says.
  const Status generator{.timecode = label, .state = State::locked, .generatorRunning = true};
  EXPECT_EQ(badgeLook(SourceKind::generator, generator), (BadgeLook{"RUNNING", ColorRole::green}));
  EXPECT_EQ(badgeLook(SourceKind::generator, {.timecode = label, .state = State::locked}), stopped);

  StateBadge badge;
  badge.setLook({"NO TIMECODE", ColorRole::secondaryLabel});
  EXPECT_EQ(badge.textColor(), systemColor(ColorRole::secondaryLabel, badge.palette()));
  EXPECT_NEAR(badge.fillColor().alphaF(), 0.08, 0.01);
  EXPECT_EQ(badge.fillColor().rgb(), systemColor(ColorRole::label, badge.palette()).rgb());
  badge.setLook({"LOCKED", ColorRole::green});  // dark words on the colour
  EXPECT_EQ(badge.fillColor(), systemColor(ColorRole::green, badge.palette()));
  EXPECT_EQ(badge.textColor().rgb(), QColor(Qt::black).rgb());
  EXPECT_NEAR(badge.textColor().alphaF(), 0.8, 0.01);
}

TEST(InfoLine, ShowsSpeedOnlyWhenLockedAndOffByMoreThanTwoThousandths) {
  auto kinds = [](const Status& s) {
    std::vector<InfoItem::Kind> list;
    for (const InfoItem& item : infoLineItems(s)) list.push_back(item.kind);
    return list;
  };
  Status status{.rate = FrameRate::fps25, .state = State::locked, .measuredRate = 25.0004, .speed = 1.002};
  const auto items = infoLineItems(status);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "25 fps");
  EXPECT_EQ(items[1].text, "25.000");
  EXPECT_EQ(items[1].toolTip, "Frames per second as measured");
  status.speed = 1.01;
  const auto fast = infoLineItems(status);
  ASSERT_EQ(fast.size(), 3u);
  EXPECT_EQ(fast[2].text, "speed 101.0 %");
  EXPECT_EQ(fast[2].color, ColorRole::orange);

  status.state = State::acquiring;  // measured rate stays, speed does not
  EXPECT_EQ(kinds(status), (std::vector{InfoItem::Kind::rate, InfoItem::Kind::measuredRate}));
  status.state = State::freewheel;
  status.reverse = true;
  EXPECT_EQ(kinds(status), (std::vector{InfoItem::Kind::rate, InfoItem::Kind::reverse}));
  EXPECT_TRUE(infoLineItems(Status{}).empty());
}

TEST(PickerEntries, OffersTheOptionListsWithAutoNamingTheDetectedRateOnlyWhileAuto) {
  EXPECT_EQ(titles(outputChannelEntries(4)).mid(3),
            (QStringList{"Output 4", "---", "Outputs 1+2", "Outputs 3+4"}));
  EXPECT_EQ(titles(outputChannelEntries(1)), QStringList{"Output 1"});  // no pair of one
  EXPECT_EQ(autoRateTitle(std::nullopt, FrameRate::fps29_97DF), "Auto (29.97 DF)");
  EXPECT_EQ(autoRateTitle(FrameRate::fps24, FrameRate::fps24), "Auto");
  EXPECT_EQ(titles(inputRateEntries(std::nullopt)),
            (QStringList{"Auto", "---", "23.976", "24", "25", "29.97 DF", "29.97 ND", "30"}));
  // A hand-edited freewheel time is shown rather than leaving the picker blank.
  EXPECT_EQ(titles(freewheelEntries(3.0)), (QStringList{"Off", "0.5 s", "1 s", "2 s", "5 s", "10 s", "3 s"}));
}

TEST(PickerEntries, RefillingAPickerKeepsItsChoiceAndAnUnknownValueSelectsNothing) {
  QComboBox picker;
  setPickerEntries(&picker, outputChannelEntries(4));
  selectPickerData(&picker, qint64{-3});
  QSignalSpy changed(&picker, &QComboBox::currentIndexChanged);
  setPickerEntries(&picker, outputChannelEntries(4));  // the same list: left alone
  setPickerEntries(&picker, outputChannelEntries(6));  // a longer list: the choice survives
  EXPECT_EQ(picker.currentText(), "Outputs 3+4");
  EXPECT_EQ(picker.count(), 10);
  EXPECT_EQ(changed.count(), 0);                       // refills never look like a user's choice
  setPickerEntries(&picker, outputChannelEntries(2));  // the pair is gone with the channels
  EXPECT_EQ(picker.currentIndex(), -1);
  selectPickerData(&picker, qint64{7});
  EXPECT_EQ(picker.currentIndex(), -1);
}

TEST(DetailRows, ShowsADashForAbsentValues) {
  Status status{.userBits = 0x00ab12cd, .ignored = 3, .framesIn = 12};
  const auto mtc = detailRows(SourceKind::mtc, status);
  ASSERT_EQ(mtc.size(), 6u);
  EXPECT_EQ(mtc[0], (DetailRow{"From", "\u2013", {}}));
  EXPECT_EQ(mtc[1], (DetailRow{"Sequences read", "12", {}}));
  EXPECT_EQ(mtc[2].value, "\u2013");  // no jitter yet
  status.jitterMilliseconds = 0.126;
  const auto ltc = detailRows(SourceKind::ltc, status);
  ASSERT_EQ(ltc.size(), 7u);
  EXPECT_EQ(ltc[0].value, "00AB12CD");
  EXPECT_EQ(ltc[3].value, "0.13 ms");
  EXPECT_EQ(ltc[6].label + " " + ltc[6].value, "Damaged frames ignored 3");
  EXPECT_TRUE(detailRows(SourceKind::generator, status).empty());
  status.errors = 2;
  const auto artnet = detailRows(SourceKind::artnet, status);
  ASSERT_EQ(artnet.size(), 6u);
  EXPECT_EQ(artnet[0].label + " " + artnet[0].value, "Packets read 12");
  EXPECT_EQ(artnet[1].label + " " + artnet[1].value, "Damaged packets 2");

  DetailRows rows;  // the widget relabels its rows when the source changes
  rows.show(SourceKind::ltc, status);
  rows.show(SourceKind::mtc, status);
  EXPECT_EQ(rows.rowCount(), 6);
  EXPECT_EQ(rows.value("From"), "\u2013");
  EXPECT_EQ(rows.value("User bits"), "");
}

TEST(LiveLevelMeter, FillsAndColoursByDecibelsAndIgnoresAnEqualLevel) {
  const MeterReading silence = meterReading(0.0f);
  EXPECT_EQ(silence.fraction, 0.0);
  EXPECT_EQ(silence.color, ColorRole::orange);
  EXPECT_EQ(silence.toolTip, "-120 dBFS");
  EXPECT_EQ(meterReading(std::nanf("")).fraction, 0.0);  // a NaN level reads as silence
  EXPECT_EQ(meterReading(1.0f).fraction, 1.0);
  EXPECT_EQ(meterReading(1.0f).color, ColorRole::red);
  LiveLevelMeter meter;
  EXPECT_EQ(meter.size(), QSize(160, 8));
  EXPECT_EQ(meter.toolTip(), "Input level");
  meter.showLevel(0.5f);
  meter.showLevel(0.5f);
  EXPECT_EQ(meter.levelUpdates(), 1u);
  EXPECT_NEAR(meter.reading().fraction, 0.9, 0.001);
  EXPECT_NEAR(meter.barRect().width(), 144.0, 0.2);
  EXPECT_EQ(meter.barRect().height(), 8.0);
  EXPECT_EQ(meter.barColor(), systemColor(ColorRole::green, meter.palette()));
  EXPECT_EQ(meter.toolTip(), "-6 dBFS");
}

TEST(LiveTimecodeLabel, ChangesOnlyWhenTextOrEmphasisChanges) {
  LiveTimecodeLabel label;
  label.resize(520, LiveTimecodeLabel::kHeight);
  EXPECT_EQ(label.shown().text, "--:--:--:--");
  EXPECT_EQ(label.textFrame(), QRectF(0, -1, 520, 78));
  Status status{.timecode = Timecode{1, 0, 0, 2}, .rate = FrameRate::fps29_97DF};
  label.showStatus(status);
  EXPECT_EQ(label.shown(), (TimecodeText{"01:00:00;02", Emphasis::live}));
  EXPECT_EQ(label.textColor(), systemColor(ColorRole::label, label.palette()));
  status.level = 0.7f;  // not shown here: no change
  label.showStatus(status);
  EXPECT_EQ(label.textUpdates(), 1u);
  status.held = true;
  label.showStatus(status);
  EXPECT_EQ(label.shown().emphasis, Emphasis::held);
  label.showStatus(Status{});
  EXPECT_EQ(label.shown(), TimecodeText{});
  EXPECT_EQ(label.textColor(), systemColor(ColorRole::tertiaryLabel, label.palette()));
  EXPECT_EQ(label.textUpdates(), 3u);
}

TEST(ValueStepper, StepsWithinItsRangeAndAnnouncesOnlyTheUsersSteps) {
  ValueStepper stepper("Level", -30, 0, dbfsText);
  QSignalSpy edited(&stepper, &ValueStepper::valueEdited);
  stepper.setValue(-1);  // from outside: not announced
  stepper.upButton()->click();
  stepper.upButton()->click();  // held at 0
  EXPECT_EQ(stepper.text(), "0 dBFS");
  EXPECT_EQ(edited.count(), 1);
  stepper.setValue(-45);  // out of range, as a hand-edited record may be: the next step brings it in
  stepper.stepBy(-1);
  EXPECT_EQ(stepper.value(), -30.0);
  EXPECT_EQ(framesText(-0.3), "0 frames");  // never "-0"
}

}  // namespace
}  // namespace quillmark
