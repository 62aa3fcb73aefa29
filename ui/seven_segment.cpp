#include "ui/seven_segment.h"

#include <algorithm>

#include <QPolygonF>
#include <QTransform>

namespace quillmark::sevensegment {

namespace {

constexpr double kCellAdvance = 1.22;      // digit widths from one digit cell to the next
constexpr double kSeparatorAdvance = 0.5;  // digit widths taken by ":" or ";"
constexpr double kTrailingGap = 0.22;      // the gap after the last cell, which nothing follows
constexpr double kAspect = 0.58;           // digit width over digit height
constexpr double kSlant = 0.1;             // horizontal lean per unit of height

// A horizontal bar on centre line y between the centre lines of the side bars, pointed at both ends and
// kept `gap` clear of them so that neighbouring segments never touch.
QPolygonF horizontalBar(double y, double xL, double xR, double h, double gap) {
  return QPolygonF({{xL + gap, y},
                    {xL + gap + h, y + h},
                    {xR - gap - h, y + h},
                    {xR - gap, y},
                    {xR - gap - h, y - h},
                    {xL + gap + h, y - h},
                    {xL + gap, y}});
}

// A vertical bar on centre line x from p (bottom point) to q (top point).
QPolygonF verticalBar(double x, double p, double q, double h) {
  return QPolygonF({{x, p}, {x + h, p + h}, {x + h, q - h}, {x, q}, {x - h, q - h}, {x - h, p + h}, {x, p}});
}

QPolygonF square(double x, double y, double size) {
  return QPolygonF({{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}, {x, y}});
}

}  // namespace

std::uint8_t litSegments(char ch) noexcept {
  switch (ch) {
    case '0':
      return kSegmentA | kSegmentB | kSegmentC | kSegmentD | kSegmentE | kSegmentF;
    case '1':
      return kSegmentB | kSegmentC;
    case '2':
      return kSegmentA | kSegmentB | kSegmentG | kSegmentE | kSegmentD;
    case '3':
      return kSegmentA | kSegmentB | kSegmentG | kSegmentC | kSegmentD;
    case '4':
      return kSegmentF | kSegmentG | kSegmentB | kSegmentC;
    case '5':
      return kSegmentA | kSegmentF | kSegmentG | kSegmentC | kSegmentD;
    case '6':
      return kSegmentA | kSegmentF | kSegmentG | kSegmentE | kSegmentD | kSegmentC;
    case '7':
      return kSegmentA | kSegmentB | kSegmentC;
    case '8':
      return kSegmentA | kSegmentB | kSegmentC | kSegmentD | kSegmentE | kSegmentF | kSegmentG;
    case '9':
      return kSegmentA | kSegmentB | kSegmentC | kSegmentD | kSegmentF | kSegmentG;
    case '-':
      return kSegmentG;
    default:
      return 0;
  }
}

double segmentUnits(std::string_view text) noexcept {
  double units = -kTrailingGap;
  for (char ch : text) units += isDigitCell(ch) ? kCellAdvance : kSeparatorAdvance;
  return units;
}

Layout layoutSegments(const QRectF& rect, std::string_view text, bool slanted) noexcept {
  const double u = segmentUnits(text);
  const double s = slanted ? kSlant : 0.0;
  Layout layout;
  // An empty text has no width to fit (u + s can be negative); only the height limits it then.
  const double widthUnits = kAspect * u + s;
  const double byHeight = 0.9 * rect.height();
  layout.digitHeight = widthUnits > 0 ? std::min(rect.width() / widthUnits, byHeight) : byHeight;
  layout.digitHeight = std::max(0.0, layout.digitHeight);
  layout.digitWidth = kAspect * layout.digitHeight;
  layout.origin =
      QPointF(rect.center().x() - u * layout.digitWidth / 2, rect.center().y() - layout.digitHeight / 2);
  return layout;
}

Outlines segmentPaths(std::string_view text, const Layout& layout, bool slanted) {
  const double W = layout.digitWidth;
  const double H = layout.digitHeight;
  const double x0 = layout.origin.x();
  const double y0 = layout.origin.y();
  const double t = 0.17 * W;  // bar thickness
  const double h = t / 2;
  const double gap = 0.18 * t;

  Outlines out;
  out.lit.setFillRule(Qt::WindingFill);
  out.ghost.setFillRule(Qt::WindingFill);

  double x = x0;
  for (char ch : text) {
    if (isDigitCell(ch)) {
      const std::uint8_t lit = litSegments(ch);
      const double xL = x + h;
      const double xR = x + W - h;
      const double yT = y0 + H - h;
      const double yM = y0 + H / 2;
      const double yB = y0 + h;
      const QPolygonF shapes[7] = {
          horizontalBar(yT, xL, xR, h, gap),       // a
          verticalBar(xR, yM + gap, yT - gap, h),  // b
          verticalBar(xR, yB + gap, yM - gap, h),  // c
          horizontalBar(yB, xL, xR, h, gap),       // d
          verticalBar(xL, yB + gap, yM - gap, h),  // e
          verticalBar(xL, yM + gap, yT - gap, h),  // f
          horizontalBar(yM, xL, xR, h, gap),       // g
      };
      for (int i = 0; i < 7; ++i) {
        ((lit >> i) & 1 ? out.lit : out.ghost).addPolygon(shapes[i]);
        ((lit >> i) & 1 ? out.lit : out.ghost).closeSubpath();
      }
      x += kCellAdvance * W;
    } else {
      const double xs = x + 0.14 * W;
      const double dot = 1.1 * t;
      const double lower = y0 + 0.34 * H;
      out.lit.addPolygon(square(xs, y0 + 0.66 * H - dot / 2, dot));
      out.lit.closeSubpath();
      if (ch == ';') {
        // The drop-frame mark: a comma-like tail hanging below the lower dot's place.
        out.lit.addPolygon(QPolygonF({{xs, lower + dot / 2},
                                      {xs + dot, lower + dot / 2},
                                      {xs + 0.3 * dot, lower - 1.3 * dot},
                                      {xs - 0.2 * dot, lower - 1.3 * dot},
                                      {xs, lower + dot / 2}}));
      } else {
        out.lit.addPolygon(square(xs, lower - dot / 2, dot));
      }
      out.lit.closeSubpath();
      x += kSeparatorAdvance * W;
    }
  }

  if (slanted) {
    // x' = x + 0.1 (y - middle): tops lean right, pivoting on the digits' middle line.
    const double middle = y0 + H / 2;
    const QTransform shear(1, 0, kSlant, 1, -kSlant * middle, 0);
    out.lit = shear.map(out.lit);
    out.ghost = shear.map(out.ghost);
    out.lit.setFillRule(Qt::WindingFill);
    out.ghost.setFillRule(Qt::WindingFill);
  }
  return out;
}

}  // namespace quillmark::sevensegment
