#include "ui/big_timecode_view.h"

#include <gtest/gtest.h>
#include <QFontMetricsF>

#include "ui/seven_segment.h"

namespace quillmark {
namespace {

using State = TimecodeClock::State;

BigTimecodeView::Content running(const std::string& text, State state = State::locked) {
  BigTimecodeView::Content content;
  content.text = text;
  content.state = state;
  content.info = "LOCKED";
  return content;
}

void expectRect(const QRectF& actual, double x, double y, double w, double h) {
  EXPECT_NEAR(actual.x(), x, 1e-9);
  EXPECT_NEAR(actual.y(), y, 1e-9);
  EXPECT_NEAR(actual.width(), w, 1e-9);
  EXPECT_NEAR(actual.height(), h, 1e-9);
}

TEST(BigTimecodeView, LaysOutTheWideWindowAroundItsStatusLine) {
  BigTimecodeView view;
  view.resize(900, 280);
  view.showContent(running("01:02:03:04"));

  // i = min(0.05 x 900, 0.14 x 280) = min(45, 39.2).
  EXPECT_NEAR(view.infoHeight(), 39.2, 1e-9);
  expectRect(view.digitRect(), 36, 54.88, 828, 217.28);
  expectRect(view.infoFrame(), 0, 0.4 * 39.2, 900, 39.2);
  EXPECT_EQ(view.infoFont().pixelSize(), 29);  // 0.75 x 39.2, rounded

  const double u = sevensegment::segmentUnits("01:02:03:04");
  EXPECT_NEAR(view.digitHeight(), 828 / (0.58 * u + 0.1), 1e-9);
  EXPECT_NEAR(view.digitWidth(), 0.58 * view.digitHeight(), 1e-9);
  EXPECT_NEAR(view.origin().x(), 450 - u * view.digitWidth() / 2, 1e-9);
  EXPECT_NEAR(view.origin().y(), 54.88 + 217.28 / 2 - view.digitHeight() / 2, 1e-9);

  // Without a status line (switched off, or nothing to say) the digits get the whole height.
  DisplayStyle quiet;
  quiet.showInfo = false;
  view.setStyle(quiet);
  EXPECT_FALSE(view.isInfoShown());
  expectRect(view.digitRect(), 36, 0, 828, 280);
  view.setStyle(DisplayStyle{});
  BigTimecodeView::Content silent = running("01:02:03:04");
  silent.info.clear();
  view.showContent(silent);
  EXPECT_EQ(view.infoHeight(), 0);
}

TEST(BigTimecodeView, RedrawsOnlyWhatAContentChangeNeeds) {
  BigTimecodeView view;
  view.resize(900, 280);
  view.showContent(running("01:02:03:04"));
  const auto layouts = view.layoutCount();
  const auto updates = view.updateCount();
  const double height = view.digitHeight();

  view.showContent(running("01:02:03:04"));  // equal: nothing at all
  EXPECT_EQ(view.layoutCount(), layouts);
  EXPECT_EQ(view.updateCount(), updates);

  view.showContent(running("01:02:03:05", State::freewheel));  // same length: one update, same geometry
  EXPECT_EQ(view.layoutCount(), layouts);
  EXPECT_EQ(view.updateCount(), updates + 1);
  EXPECT_EQ(view.digitHeight(), height);

  view.showContent(running("01:02:03"));  // frames hidden: fewer characters, larger digits
  EXPECT_EQ(view.layoutCount(), layouts + 1);
  EXPECT_GT(view.digitHeight(), height);

  BigTimecodeView::Content silent = running("01:02:03");
  silent.info.clear();
  view.showContent(silent);  // the status line goes away
  EXPECT_EQ(view.layoutCount(), layouts + 2);

  view.setStyle(view.style());  // an equal style changes nothing
  EXPECT_EQ(view.layoutCount(), layouts + 2);
}

TEST(BigTimecodeView, ColoursDigitsByStateAndSource) {
  BigTimecodeView view;
  const RGBA base = view.style().text;
  auto colourOf = [&view](BigTimecodeView::Content content) {
    view.showContent(content);
    return view.currentColor();
  };

  EXPECT_DOUBLE_EQ(colourOf(BigTimecodeView::Content{}).alpha, 0.3);  // "--:--:--:--": no timecode
  EXPECT_EQ(colourOf(running("10:00:00:00", State::locked)), base);
  EXPECT_DOUBLE_EQ(colourOf(running("10:00:00:00", State::stopped)).alpha, 0.45);
  const RGBA freewheel = colourOf(running("10:00:00:00", State::freewheel));
  const RGBA acquiring = colourOf(running("10:00:00:00", State::acquiring));
  EXPECT_NE(freewheel, base);
  EXPECT_NE(acquiring, base);
  EXPECT_NE(freewheel, acquiring);
  EXPECT_GT(acquiring.green, freewheel.green);  // yellow against orange

  // The generator is judged by its transport alone, whatever the clock says.
  BigTimecodeView::Content generator = running("--:--:--:--", State::stopped);
  generator.generator = true;
  generator.running = true;
  EXPECT_EQ(colourOf(generator), base);
  generator.running = false;
  EXPECT_DOUBLE_EQ(colourOf(generator).alpha, 0.45);

  DisplayStyle plain;
  plain.colorByState = false;
  view.setStyle(plain);
  EXPECT_EQ(colourOf(running("10:00:00:00", State::freewheel)), base);
}

TEST(BigTimecodeView, DrawsUnlitSegmentsOnlyWhenAsked) {
  BigTimecodeView view;
  view.resize(900, 280);
  view.showContent(running("11:11:11:11"));
  EXPECT_TRUE(view.isGhostShown());
  EXPECT_FALSE(view.ghostPath().isEmpty());
  EXPECT_FALSE(view.isTextShown());

  DisplayStyle style;
  style.ghostSegments = false;
  view.setStyle(style);
  EXPECT_FALSE(view.isGhostShown());

  // Slant costs width: the same text in a width-limited view gets slightly smaller digits.
  const double slanted = view.digitHeight();
  style.slanted = false;
  view.setStyle(style);
  EXPECT_GT(view.digitHeight(), slanted);
}

TEST(BigTimecodeView, FitsTextTypefacesIntoTheDigitRectangle) {
  BigTimecodeView view;
  view.resize(900, 280);
  DisplayStyle style = DisplayStyle::presets()[3].style;  // "White on black", a text typeface
  ASSERT_EQ(style.typeface, Typeface::mono);
  view.setStyle(style);
  view.showContent(running("01:22:33;44"));
  EXPECT_TRUE(view.isTextShown());
  EXPECT_TRUE(view.litPath().isEmpty());

  const QRectF frame = view.textFrame();
  const QRectF r = view.digitRect();
  EXPECT_NEAR(frame.center().y(), r.center().y(), 1e-9);
  EXPECT_EQ(frame.left(), r.left());
  EXPECT_EQ(frame.width(), r.width());
  EXPECT_LE(frame.height(), r.height() + 1e-9);
  EXPECT_GT(view.fontSize(), 40);  // it fills a 900-pixel window, not a corner of it
  const QFontMetricsF metrics(view.textFont());
  EXPECT_LE(metrics.horizontalAdvance("00:00:00;00"), r.width());

  // A proportional face fitted to "--:--:--:--" is re-fitted when the first timecode of the same length
  // arrives: digits are wider than dashes and must still fit.
  DisplayStyle sans = style;
  sans.typeface = Typeface::sans;
  view.setStyle(sans);
  view.showContent(running("--:--:--:--"));
  const double dashesSize = view.fontSize();
  view.showContent(running("10:00:00:00"));
  EXPECT_LT(view.fontSize(), dashesSize);
  EXPECT_LE(QFontMetricsF(view.textFont()).horizontalAdvance("00:00:00:00"), r.width());
  const auto layouts = view.layoutCount();
  view.showContent(running("10:00:00:01"));  // counting digits never re-measures
  EXPECT_EQ(view.layoutCount(), layouts);

  // However small the window, the text never drops below 8 pixels.
  view.setMinimumSize(0, 0);
  view.resize(20, 6);
  view.show();  // a hidden widget hears of its new size only when it is shown
  EXPECT_EQ(view.fontSize(), 8);
  EXPECT_EQ(view.textFont().pixelSize(), 8);
}

}  // namespace
}  // namespace quillmark
