#include "ui/seven_segment.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>
#include <QPolygonF>

namespace quillmark::sevensegment {
namespace {

const Layout kBox{200, 116, {30, 40}};

// Names the segment a shape is by where it sits in an unslanted digit box, so that a test can read back
// which segments were lit without knowing the order they were built in.
char segmentAt(const QRectF& box) {
  const QPointF c = box.center();
  const double y0 = kBox.origin.y(), H = kBox.digitHeight;
  if (box.width() > box.height()) return c.y() > y0 + 0.75 * H ? 'a' : c.y() < y0 + 0.25 * H ? 'd' : 'g';
  const bool upper = c.y() > y0 + H / 2;
  if (c.x() > kBox.origin.x() + 3 * kBox.digitWidth / 4) return upper ? 'b' : 'c';
  if (c.x() < kBox.origin.x() + kBox.digitWidth / 4) return upper ? 'f' : 'e';
  return '?';
}

double area(const QPolygonF& p) {
  double twice = 0;
  for (qsizetype i = 0; i + 1 < p.size(); ++i) twice += p[i].x() * p[i + 1].y() - p[i + 1].x() * p[i].y();
  return std::abs(twice) / 2;
}

TEST(SevenSegment, LightsTheSegmentsOfEachDigitInTheirPlacesAndGhostsTheRest) {
  const std::string chars = "0123456789-";
  const char* expected[] = {"abcdef", "bc",  "abdeg",   "abcdg",  "bcfg", "acdfg",
                            "acdefg", "abc", "abcdefg", "abcdfg", "g"};
  for (size_t i = 0; i < chars.size(); ++i) {
    const Outlines o = segmentPaths(chars.substr(i, 1), kBox, false);
    std::string letters;
    for (const QPolygonF& shape : o.lit.toSubpathPolygons()) letters += segmentAt(shape.boundingRect());
    std::sort(letters.begin(), letters.end());
    EXPECT_EQ(letters, expected[i]) << chars[i];
    EXPECT_EQ(segmentPaths(chars.substr(i, 1), kBox, true).ghost.toSubpathPolygons().size() +
                  o.lit.toSubpathPolygons().size(),
              7)
        << chars[i];
  }
}

TEST(SevenSegment, SegmentsFillTheDigitBoxWithoutTouchingAndSlantLeansTopsRightAboutTheMiddle) {
  const Outlines o = segmentPaths("8", kBox, false);
  EXPECT_EQ(o.lit.boundingRect(), QRectF(30, 40, 116, 200));
  const auto segments = o.lit.toSubpathPolygons();
  ASSERT_EQ(segments.size(), 7);
  for (qsizetype i = 0; i < segments.size(); ++i) {
    EXPECT_GT(area(segments[i]), 0) << i;
    for (qsizetype j = i + 1; j < segments.size(); ++j)
      EXPECT_NEAR(area(segments[i].intersected(segments[j])), 0, 1e-6) << i << " overlaps " << j;
  }

  // Slant leans the tops right about the middle line.
  const auto& upright = segments;
  const auto leaning = segmentPaths("8", kBox, true).lit.toSubpathPolygons();
  ASSERT_EQ(leaning.size(), 7);
  // The top bar moves right as far as the bottom bar moves left; nothing moves up or down.
  const QPointF top = leaning[0].boundingRect().center(), bottom = leaning[3].boundingRect().center();
  const double shift = top.x() - upright[0].boundingRect().center().x();
  EXPECT_GT(shift, 0);
  EXPECT_NEAR(bottom.x(), upright[3].boundingRect().center().x() - shift, 1e-9);
  EXPECT_NEAR(top.y(), upright[0].boundingRect().center().y(), 1e-9);
  EXPECT_NEAR(segmentPaths("-", kBox, true).lit.boundingRect().center().x(), 30 + 58, 1e-9);
}

// Separators are two marks each, lit and never ghosted; the drop-frame one gives its lower dot a tail.
TEST(SevenSegment, SeparatorsAreTwoDotsAndDropFrameDrawsATailForTheLastLowerDot) {
  const Outlines o = segmentPaths("01:00:00;00", Layout{100, 58, {0, 0}}, true);
  EXPECT_EQ(o.ghost.toSubpathPolygons().size() + o.lit.toSubpathPolygons().size(), 8 * 7 + 6u);
  std::vector<QPolygonF> marks;
  for (const QPolygonF& shape : o.lit.toSubpathPolygons())
    if (shape.size() == 5) marks.push_back(shape);  // squares and the tail: four corners, closed
  ASSERT_EQ(marks.size(), 6u);
  // The tail is the last mark: a quadrilateral reaching below where a lower dot would end.
  const QRectF tail = marks.back().boundingRect(), lowerDot = marks[3].boundingRect();
  EXPECT_LT(tail.top(), lowerDot.top());
  EXPECT_NEAR(tail.bottom(), lowerDot.bottom(), 1e-9);
  EXPECT_GT(std::abs(tail.width() - tail.height()), 1.0);       // not a square
  EXPECT_NEAR(marks[4].boundingRect().center().y(), 66, 1e-9);  // the upper dot stays a dot
}

TEST(SevenSegment, FewerCharactersGrowTheDigitsUntilTheHeightLimitsThem) {
  const QRectF wide(36, 54.88, 828, 217.28);
  const Layout full = layoutSegments(wide, "00:00:00:00", true);
  EXPECT_GT(layoutSegments(wide, "00:00:00", true).digitHeight, full.digitHeight);
  const double byHeight = layoutSegments(wide, "0", true).digitHeight;
  EXPECT_EQ(layoutSegments(wide, "00", true).digitHeight, byHeight);  // both as high as the room allows
  EXPECT_LT(byHeight, wide.height());
  // An empty text has no width to divide by; the digits stay finite.
  const Layout empty = layoutSegments(wide, "", false);
  EXPECT_GE(empty.digitHeight, 0);
  EXPECT_LE(empty.digitHeight, byHeight);
}

}  // namespace
}  // namespace quillmark::sevensegment
