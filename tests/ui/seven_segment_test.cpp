#include "ui/seven_segment.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QPolygonF>

namespace quillmark::sevensegment {
namespace {

std::vector<QPolygonF> shapes(const QPainterPath& path) {
  const QList<QPolygonF> list = path.toSubpathPolygons();
  return {list.begin(), list.end()};
}

// Names the segment a shape is by where it sits in an unslanted digit box, so that a test can read back
// which segments were lit without knowing the order they were built in.
char segmentAt(const QRectF& box, const Layout& l) {
  const QPointF c = box.center();
  const double left = l.origin.x() + l.digitWidth / 4, right = l.origin.x() + 3 * l.digitWidth / 4;
  const double y0 = l.origin.y(), H = l.digitHeight;
  if (box.width() > box.height()) {
    if (c.y() > y0 + 0.75 * H) return 'a';
    if (c.y() < y0 + 0.25 * H) return 'd';
    return 'g';
  }
  const bool upper = c.y() > y0 + H / 2;
  if (c.x() > right) return upper ? 'b' : 'c';
  if (c.x() < left) return upper ? 'f' : 'e';
  return '?';
}

std::string litLetters(char ch) {
  const Layout l{100, 58, {10, 20}};
  std::string letters;
  for (const QPolygonF& shape : shapes(segmentPaths(std::string(1, ch), l, false).lit))
    letters += segmentAt(shape.boundingRect(), l);
  std::sort(letters.begin(), letters.end());
  return letters;
}

double area(const QPolygonF& p) {
  double twice = 0;
  for (qsizetype i = 0; i + 1 < p.size(); ++i) twice += p[i].x() * p[i + 1].y() - p[i + 1].x() * p[i].y();
  return std::abs(twice) / 2;
}

TEST(SevenSegment, LightsTheSegmentsOfEachDigitInTheirPlaces) {
  EXPECT_EQ(litLetters('0'), "abcdef");
  EXPECT_EQ(litLetters('1'), "bc");
  EXPECT_EQ(litLetters('2'), "abdeg");
  EXPECT_EQ(litLetters('3'), "abcdg");
  EXPECT_EQ(litLetters('4'), "bcfg");
  EXPECT_EQ(litLetters('5'), "acdfg");
  EXPECT_EQ(litLetters('6'), "acdefg");
  EXPECT_EQ(litLetters('7'), "abc");
  EXPECT_EQ(litLetters('8'), "abcdefg");
  EXPECT_EQ(litLetters('9'), "abcdfg");
  EXPECT_EQ(litLetters('-'), "g");
  // Every digit cell has all seven segments between its two outlines.
  for (char ch : std::string("0123456789-")) {
    const Outlines o = segmentPaths(std::string(1, ch), Layout{100, 58, {0, 0}}, true);
    EXPECT_EQ(shapes(o.lit).size() + shapes(o.ghost).size(), 7u) << ch;
  }
}

TEST(SevenSegment, SegmentsFillTheDigitBoxWithoutTouchingEachOther) {
  const Layout l{200, 116, {30, 40}};
  const Outlines o = segmentPaths("8", l, false);
  EXPECT_TRUE(o.ghost.isEmpty());
  const QRectF bounds = o.lit.boundingRect();
  EXPECT_NEAR(bounds.left(), 30, 1e-9);
  EXPECT_NEAR(bounds.right(), 30 + 116, 1e-9);
  EXPECT_NEAR(bounds.bottom(), 40 + 200, 1e-9);  // QRectF's bottom is the larger y: the digit's top here
  EXPECT_NEAR(bounds.top(), 40, 1e-9);

  const auto segments = shapes(o.lit);
  ASSERT_EQ(segments.size(), 7u);
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_GT(area(segments[i]), 0) << i;
    for (size_t j = i + 1; j < segments.size(); ++j)
      EXPECT_NEAR(area(segments[i].intersected(segments[j])), 0, 1e-6) << i << " overlaps " << j;
  }
}

TEST(SevenSegment, SlantLeansTopsRightAboutTheMiddleLine) {
  const Layout l{200, 116, {30, 40}};
  const auto upright = shapes(segmentPaths("8", l, false).lit);
  const auto leaning = shapes(segmentPaths("8", l, true).lit);
  ASSERT_EQ(leaning.size(), 7u);
  // The top bar's centre line is H/2 - t/2 above the middle, so it moves right by a tenth of that; the
  // bottom bar moves left as far; nothing moves up or down.
  const double rise = 100 - 0.17 * 116 / 2;
  const QRectF topBefore = upright[0].boundingRect(), topAfter = leaning[0].boundingRect();
  const QRectF bottomBefore = upright[3].boundingRect(), bottomAfter = leaning[3].boundingRect();
  EXPECT_NEAR(topAfter.center().x(), topBefore.center().x() + 0.1 * rise, 1e-9);
  EXPECT_NEAR(bottomAfter.center().x(), bottomBefore.center().x() - 0.1 * rise, 1e-9);
  EXPECT_NEAR(topAfter.center().y(), topBefore.center().y(), 1e-9);
  EXPECT_NEAR(bottomAfter.height(), bottomBefore.height(), 1e-9);
  // The middle bar sits on the pivot line and does not move.
  const QRectF middle = segmentPaths("-", l, true).lit.boundingRect();
  EXPECT_NEAR(middle.center().x(), 30 + 58, 1e-9);
}

TEST(SevenSegment, NoTimecodeShowsMiddleBarsAndColonsOnly) {
  const Layout l = layoutSegments(QRectF(36, 54.88, 828, 217.28), "--:--:--:--", true);
  const Outlines o = segmentPaths("--:--:--:--", l, false);
  const auto lit = shapes(o.lit);
  ASSERT_EQ(lit.size(), 8u + 6u);  // four pairs of middle bars, three colons of two dots
  int bars = 0, dots = 0;
  for (const QPolygonF& shape : lit) {
    const QRectF box = shape.boundingRect();
    if (box.width() > 1.5 * box.height()) {
      ++bars;
      EXPECT_NEAR(box.center().y(), l.origin.y() + l.digitHeight / 2, 1e-9);
    } else {
      ++dots;
      EXPECT_NEAR(box.width(), box.height(), 1e-9);
    }
  }
  EXPECT_EQ(bars, 8);
  EXPECT_EQ(dots, 6);
  EXPECT_EQ(shapes(o.ghost).size(), 8u * 6u);  // separators never appear unlit
  // The last cell ends exactly u digit widths after the origin.
  EXPECT_NEAR(o.lit.boundingRect().right(),
              l.origin.x() + 11.04 * l.digitWidth - 0.17 * l.digitWidth / 2 - 0.18 * 0.17 * l.digitWidth,
              1e-6);
}

TEST(SevenSegment, DropFrameDrawsATailForTheLastLowerDot) {
  const Layout l{100, 58, {0, 0}};
  const auto lit = shapes(segmentPaths("01:00:00;00", l, false).lit);
  std::vector<QPolygonF> marks;
  for (const QPolygonF& shape : lit)
    if (shape.size() == 5) marks.push_back(shape);  // squares and the tail: four corners, closed
  ASSERT_EQ(marks.size(), 6u);
  // The tail is the last mark: a quadrilateral reaching below where a lower dot would end.
  const QRectF tail = marks.back().boundingRect();
  const QRectF lowerDot = marks[marks.size() - 3].boundingRect();
  EXPECT_LT(tail.top(), lowerDot.top());
  EXPECT_NEAR(tail.bottom(), lowerDot.bottom(), 1e-9);
  EXPECT_GT(std::abs(tail.width() - tail.height()), 1.0);                      // not a square
  EXPECT_NEAR(marks[marks.size() - 2].boundingRect().center().y(), 66, 1e-9);  // the upper dot stays a dot
}

TEST(SevenSegment, DigitsFitTheWidthOrTheHeightWhicheverIsTighter) {
  EXPECT_NEAR(segmentUnits("00:00:00:00"), 11.04, 1e-12);
  EXPECT_NEAR(segmentUnits("00:00:00"), 8.1, 1e-12);
  EXPECT_NEAR(segmentUnits(""), -0.22, 1e-12);

  const QRectF wide(36, 54.88, 828, 217.28);
  const Layout upright = layoutSegments(wide, "00:00:00:00", false);
  const Layout slanted = layoutSegments(wide, "00:00:00:00", true);
  EXPECT_NEAR(upright.digitHeight, 828 / (0.58 * 11.04), 1e-9);
  EXPECT_NEAR(slanted.digitHeight, 828 / (0.58 * 11.04 + 0.1), 1e-9);  // the slant's allowance costs size
  EXPECT_NEAR(slanted.digitWidth, 0.58 * slanted.digitHeight, 1e-12);
  // Centred in the rectangle both ways.
  EXPECT_NEAR(slanted.origin.x() + 11.04 * slanted.digitWidth / 2, wide.center().x(), 1e-9);
  EXPECT_NEAR(slanted.origin.y() + slanted.digitHeight / 2, wide.center().y(), 1e-9);

  // Fewer characters grow the digits until the height limits them.
  const Layout hoursOnly = layoutSegments(wide, "00:00:00", true);
  EXPECT_GT(hoursOnly.digitHeight, slanted.digitHeight);
  const Layout tall = layoutSegments(wide, "0", true);
  EXPECT_NEAR(tall.digitHeight, 0.9 * 217.28, 1e-9);

  // An empty text has no width to divide by; the digits stay finite.
  const Layout empty = layoutSegments(wide, "", false);
  EXPECT_GE(empty.digitHeight, 0);
  EXPECT_LE(empty.digitHeight, 0.9 * 217.28);
}

}  // namespace
}  // namespace quillmark::sevensegment
