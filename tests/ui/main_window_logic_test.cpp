// The main window's views checked without a store: what the badge, the info line, the pickers, the detail
// rows, the level meter and the timecode line make of a status.

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

// An input's badge names the clock's state in that state's colour; a stopped input says whether it holds a
// label, and the generator's badge says only whether its transport runs.
TEST(StateBadge, NamesTheClockStateAHeldLabelReadsStoppedAndTheGeneratorItsTransport) {
  EXPECT_EQ(badgeLook(SourceKind::ltc, {.state = State::acquiring}),
            (BadgeLook{"ACQUIRING", ColorRole::yellow}));
  EXPECT_EQ(badgeLook(SourceKind::mtc, {.state = State::locked}), (BadgeLook{"LOCKED", ColorRole::green}));
  EXPECT_EQ(badgeLook(SourceKind::artnet, {.state = State::freewheel}),
            (BadgeLook{"FREEWHEEL", ColorRole::orange}));
  const Timecode label{1, 0, 0, 0};
  const BadgeLook stopped{"STOPPED", ColorRole::secondaryLabel};
  EXPECT_EQ(badgeLook(SourceKind::ltc, {.timecode = label, .held = true}), stopped);
  EXPECT_EQ(badgeLook(SourceKind::mtc, {}), (BadgeLook{"NO TIMECODE", ColorRole::secondaryLabel}));
  const Status generator{.timecode = label, .state = State::locked, .generatorRunning = true};
  EXPECT_EQ(badgeLook(SourceKind::generator, generator), (BadgeLook{"RUNNING", ColorRole::green}));
  EXPECT_EQ(badgeLook(SourceKind::generator, {.timecode = label, .state = State::locked}), stopped);
}

TEST(InfoLine, ShowsSpeedOnlyWhenLockedAndOffByMoreThanTwoThousandths) {
  auto kinds = [](const Status& s) {
    std::vector<InfoItem::Kind> list;
    for (const InfoItem& item : infoLineItems(s)) list.push_back(item.kind);
    return list;
  };
  Status status{.rate = FrameRate::fps25, .state = State::locked, .measuredRate = 25.0004, .speed = 1.002};
  EXPECT_EQ(kinds(status), (std::vector{InfoItem::Kind::rate, InfoItem::Kind::measuredRate}));
  EXPECT_EQ(infoLineItems(status)[1].text, "25.000");
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

TEST(PickerEntries, OffersTheOptionListsAndRefillsKeepingTheChoice) {
  EXPECT_EQ(titles(outputChannelEntries(1)), QStringList{"Output 1"});  // no pair of one
  EXPECT_EQ(autoRateTitle(std::nullopt, FrameRate::fps29_97DF), "Auto (29.97 DF)");
  EXPECT_EQ(autoRateTitle(FrameRate::fps24, FrameRate::fps24), "Auto");
  // A hand-edited freewheel time is shown rather than leaving the picker blank.
  EXPECT_EQ(titles(freewheelEntries(3.0)).back(), "3 s");
  EXPECT_EQ(titles(freewheelEntries(2.0)).count("2 s"), 1);

  // Refilling a picker keeps its choice; an unknown value selects nothing.
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
  DetailRows rows;  // the widget relabels its rows when the source changes
  rows.show(SourceKind::ltc, status);
  EXPECT_EQ(rows.value("User bits"), "00AB12CD");
  EXPECT_EQ(rows.value("Timing jitter"), "\u2013");  // none measured yet
  status.jitterMilliseconds = 0.126;
  rows.show(SourceKind::ltc, status);
  EXPECT_EQ(rows.value("Timing jitter"), "0.13 ms");
  rows.show(SourceKind::mtc, status);
  EXPECT_EQ(rows.value("From"), "\u2013");
  EXPECT_EQ(rows.value("User bits"), "");
  EXPECT_TRUE(detailRows(SourceKind::generator, status).empty());
}

TEST(LiveViews, LevelMeterAndTimecodeLabelFollowTheStatusAndIgnoreEqualValues) {
  const MeterReading silence = meterReading(0.0f);
  EXPECT_EQ(silence.fraction, 0.0);
  EXPECT_EQ(silence.color, ColorRole::orange);
  EXPECT_EQ(meterReading(std::nanf("")).fraction, 0.0);  // a NaN level reads as silence
  EXPECT_EQ(meterReading(1.0f).fraction, 1.0);
  EXPECT_EQ(meterReading(1.0f).color, ColorRole::red);
  LiveLevelMeter meter;
  meter.showLevel(0.5f);
  meter.showLevel(0.5f);
  EXPECT_EQ(meter.levelUpdates(), 1u);
  EXPECT_NEAR(meter.barRect().width(), 0.9 * meter.width(), 0.2);
  EXPECT_EQ(meter.barColor(), systemColor(ColorRole::green, meter.palette()));
  EXPECT_EQ(meter.toolTip(), "-6 dBFS");

  // The timecode line changes only when its text or emphasis does.
  LiveTimecodeLabel label;
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
