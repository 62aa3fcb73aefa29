#pragma once
// The geometry of the big display's seven-segment digits: how much width a text needs, where the digits
// sit in a rectangle, and the lit and unlit outlines of every segment and separator mark. Kept apart from
// the widget so that the shapes can be checked without painting anything.
//
// Coordinates have their origin at the bottom-left corner of the view and grow upwards, so that "origin"
// is the bottom-left corner of the first digit; the widget flips them once when it paints.
// Threads: pure functions of their arguments; main thread in practice (QPainterPath is not shared).

#include <cstdint>
#include <string_view>

#include <QPainterPath>
#include <QPointF>
#include <QRectF>

namespace quillmark::sevensegment {

// Segment bits, a (top), b (upper right), c (lower right), d (bottom), e (lower left), f (upper left) and
// g (middle): the order in which the outlines are built.
inline constexpr std::uint8_t kSegmentA = 1 << 0;
inline constexpr std::uint8_t kSegmentB = 1 << 1;
inline constexpr std::uint8_t kSegmentC = 1 << 2;
inline constexpr std::uint8_t kSegmentD = 1 << 3;
inline constexpr std::uint8_t kSegmentE = 1 << 4;
inline constexpr std::uint8_t kSegmentF = 1 << 5;
inline constexpr std::uint8_t kSegmentG = 1 << 6;

// True for the characters drawn as a digit cell: "0" to "9" and "-".
constexpr bool isDigitCell(char ch) noexcept {
  return (ch >= '0' && ch <= '9') || ch == '-';
}

// The lit segments of a digit cell (0 for any other character).
std::uint8_t litSegments(char ch) noexcept;

// Width of a text in digit widths: 1.22 per digit cell and 0.5 per separator, less the 0.22 gap after the
// last cell, so "00:00:00:00" is 11.04 and an empty text -0.22.
double segmentUnits(std::string_view text) noexcept;

// Where the digits go inside the digit rectangle: the largest digit height that fits both its width (with
// the extra 0.1 digit height a slant needs) and 90 % of its height, centred.
struct Layout {
  double digitHeight = 0;
  double digitWidth = 0;
  QPointF origin;  // bottom-left corner of the first digit

  bool operator==(const Layout&) const = default;
};
Layout layoutSegments(const QRectF& rect, std::string_view text, bool slanted) noexcept;

// The two outlines of a text: lit segments with every separator mark, and the unlit segments. Separators
// never appear in the unlit outline. Both use the non-zero fill rule, and when `slanted` every shape is
// sheared so that tops lean right about the digits' middle line.
struct Outlines {
  QPainterPath lit;
  QPainterPath ghost;
};
Outlines segmentPaths(std::string_view text, const Layout& layout, bool slanted);

}  // namespace quillmark::sevensegment
