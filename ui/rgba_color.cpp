#include "ui/rgba_color.h"

#include <algorithm>
#include <cmath>

namespace quillmark {

namespace {

double unit(double component) {
  return std::isnan(component) ? 0.0 : std::clamp(component, 0.0, 1.0);
}

}  // namespace

QColor toQColor(const RGBA& rgba) {
  // fromRgbF would turn an out-of-range component into an extended-range colour, or an invalid one for
  // alpha; the style promises sRGB from 0 to 1, so hold it to that.
  return QColor::fromRgbF(static_cast<float>(unit(rgba.red)), static_cast<float>(unit(rgba.green)),
                          static_cast<float>(unit(rgba.blue)), static_cast<float>(unit(rgba.alpha)));
}

RGBA rgbaFromQColor(const QColor& color) {
  if (!color.isValid()) return RGBA{1.0, 1.0, 1.0, 1.0};
  const QColor srgb = color.toRgb();
  return RGBA{unit(srgb.redF()), unit(srgb.greenF()), unit(srgb.blueF()), unit(srgb.alphaF())};
}

}  // namespace quillmark
