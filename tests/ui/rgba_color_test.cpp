#include "ui/rgba_color.h"

#include <limits>

#include <gtest/gtest.h>

namespace quillmark {
namespace {

void expectNear(const RGBA& actual, const RGBA& expected) {
  constexpr double kStep = 1.0 / 65535;  // QColor keeps 16 bits per component
  EXPECT_NEAR(actual.red, expected.red, kStep);
  EXPECT_NEAR(actual.green, expected.green, kStep);
  EXPECT_NEAR(actual.blue, expected.blue, kStep);
  EXPECT_NEAR(actual.alpha, expected.alpha, kStep);
}

TEST(RGBAColor, TakesSRGBComponentsFromAnyColourModelAndGivesValidOnesBackEvenOutOfRange) {
  expectNear(rgbaFromQColor(QColor::fromHsvF(0.0f, 1.0f, 1.0f, 0.5f)), {1, 0, 0, 0.5});
  expectNear(rgbaFromQColor(QColor::fromHslF(1.0f / 3, 1.0f, 0.5f)), {0, 1, 0, 1});
  expectNear(rgbaFromQColor(QColor::fromCmykF(1.0f, 1.0f, 0.0f, 0.0f)), {0, 0, 1, 1});
  // An extended-range colour is brought back into 0 ... 1; one that cannot be converted is opaque white.
  expectNear(rgbaFromQColor(QColor(QRgba64::fromRgba64(0, 0, 0, 0xffff)).toExtendedRgb()), {0, 0, 0, 1});
  expectNear(rgbaFromQColor(QColor(QStringLiteral("no such colour"))), {1, 1, 1, 1});
  expectNear(rgbaFromQColor(toQColor({0.1, 0.2, 0.3, 0.5})), {0.1, 0.2, 0.3, 0.5});  // no 8-bit rounding

  // Out-of-range stored components still give a valid RGB colour.
  const QColor color = toQColor({1.5, -0.25, std::numeric_limits<double>::quiet_NaN(), 2.0});
  ASSERT_TRUE(color.isValid());
  EXPECT_EQ(color, color.toRgb());  // already in the RGB model: converting changes nothing
  expectNear(rgbaFromQColor(color), {1, 0, 0, 1});
  EXPECT_EQ(toQColor({0, 0, 0, -1}).alpha(), 0);
}

}  // namespace
}  // namespace quillmark
