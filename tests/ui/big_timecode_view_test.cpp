#include "ui/big_timecode_view.h"

#include <gtest/gtest.h>
#include <QFontMetricsF>

namespace quillmark {
namespace {

using State = TimecodeClock::State;
using Content = BigTimecodeView::Content;

Content shown(const std::string& text, State state = State::locked, const std::string& info = "LOCKED") {
  return {text, state, false, false, false, info};
}

TEST(BigTimecodeView, DigitsFillTheWindowBelowTheStatusLineTakeItsRoomWhenItGoesAndRedrawOnlyOnChange) {
  BigTimecodeView view;
  view.resize(900, 280);
  view.showContent(shown("01:02:03:04"));
  const QRectF digits = view.digitRect();
  EXPECT_GT(view.infoHeight(), 0);
  EXPECT_LE(view.infoFrame().bottom(), digits.top());
  const QRectF lit = view.litPath().boundingRect().united(view.ghostPath().boundingRect());
  EXPECT_TRUE(digits.adjusted(-1e-6, -1e-6, 1e-6, 1e-6).contains(lit))
      << lit.width() << " x " << lit.height();
  EXPECT_NEAR(lit.center().x(), digits.center().x(), 1.0);
  EXPECT_GT(lit.width(), 0.95 * digits.width());  // the width limits eleven characters in a wide window

  // Upright digits without ghosts take a little more size; without a status line (switched off, or
  // nothing to say) the digits get the whole height.
  DisplayStyle plain;
  plain.slanted = plain.ghostSegments = false;
  const double slanted = view.digitHeight();
  view.setStyle(plain);
  EXPECT_GT(view.digitHeight(), slanted);
  plain.showInfo = false;
  view.setStyle(plain);
  EXPECT_FALSE(view.isInfoShown());
  EXPECT_EQ(view.digitRect().height(), 280);
  view.setStyle(DisplayStyle{});
  view.showContent(shown("01:02:03:04", State::locked, ""));
  EXPECT_EQ(view.infoHeight(), 0);

  // A content change redraws only what it needs.
  view.showContent(shown("01:02:03:04"));
  const auto layouts = view.layoutCount();
  const auto updates = view.updateCount();
  const double height = view.digitHeight();

  view.showContent(shown("01:02:03:04"));  // equal: nothing at all
  view.setStyle(view.style());             // an equal style: nothing either
  EXPECT_EQ(view.updateCount(), updates);
  view.showContent(shown("01:02:03:05", State::freewheel));  // same length: one update, same geometry
  EXPECT_EQ(view.layoutCount(), layouts);
  EXPECT_EQ(view.updateCount(), updates + 1);
  view.showContent(shown("01:02:03"));  // frames hidden: fewer characters, larger digits
  EXPECT_EQ(view.layoutCount(), layouts + 1);
  EXPECT_GT(view.digitHeight(), height);
  view.showContent(shown("01:02:03", State::locked, ""));  // the status line goes away
  EXPECT_EQ(view.layoutCount(), layouts + 2);
}

TEST(BigTimecodeView, ColoursDigitsByStateAndSource) {
  BigTimecodeView view;
  const RGBA base = view.style().text;
  auto colourOf = [&view](const Content& content) {
    view.showContent(content);
    return view.currentColor();
  };
  EXPECT_DOUBLE_EQ(colourOf(Content{}).alpha, 0.3);  // "--:--:--:--": no timecode
  EXPECT_EQ(colourOf(shown("10:00:00:00")), base);
  EXPECT_DOUBLE_EQ(colourOf(shown("10:00:00:00", State::stopped)).alpha, 0.45);
  const RGBA freewheel = colourOf(shown("10:00:00:00", State::freewheel));
  const RGBA acquiring = colourOf(shown("10:00:00:00", State::acquiring));
  EXPECT_NE(freewheel, base);
  EXPECT_GT(acquiring.green, freewheel.green);  // yellow against magenta

  // The generator is judged by its transport alone, whatever the clock says.
  EXPECT_EQ(colourOf({"--:--:--:--", State::stopped, false, true, true, "RUNNING"}), base);
  EXPECT_DOUBLE_EQ(colourOf({"10:00:00:00", State::locked, false, false, true, "STOPPED"}).alpha, 0.45);

  DisplayStyle plain;
  plain.colorByState = false;
  view.setStyle(plain);
  EXPECT_EQ(colourOf(shown("10:00:00:00", State::freewheel)), base);
}

TEST(BigTimecodeView, FitsTextTypefacesIntoTheDigitRectangle) {
  BigTimecodeView view;
  view.resize(900, 280);
  DisplayStyle style;
  style.typeface = Typeface::mono;
  view.setStyle(style);
  view.showContent(shown("01:22:33;44"));
  EXPECT_TRUE(view.litPath().isEmpty());
  const QRectF frame = view.textFrame(), r = view.digitRect();
  EXPECT_EQ(frame.center(), r.center());  // the text is drawn centred in the digit rectangle
  EXPECT_LE(frame.height(), r.height() + 1e-9);
  EXPECT_GT(view.fontSize(), 40);  // it fills a 900-pixel window, not a corner of it
  EXPECT_LE(QFontMetricsF(view.textFont()).horizontalAdvance("00:00:00;00"), r.width());

  // A proportional face fitted to "--:--:--:--" is re-fitted when the first timecode of the same length
  // arrives: digits are wider than dashes and must still fit.
  style.typeface = Typeface::sans;
  view.setStyle(style);
  view.showContent(shown("--:--:--:--"));
  const double dashesSize = view.fontSize();
  view.showContent(shown("10:00:00:00"));
  EXPECT_LT(view.fontSize(), dashesSize);
  EXPECT_LE(QFontMetricsF(view.textFont()).horizontalAdvance("00:00:00:00"), r.width());

  // However small the window, the text never drops below 8 pixels.
  view.setMinimumSize(0, 0);
  view.resize(20, 6);
  view.show();  // a hidden widget hears of its new size only when it is shown
  EXPECT_EQ(view.textFont().pixelSize(), 8);
}

}  // namespace
}  // namespace quillmark
