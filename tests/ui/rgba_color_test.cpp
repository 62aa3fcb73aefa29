#include "ui/rgba_color.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace quillmark {
namespace {

constexpr double kStep = 1.0 / 65535;  // QColor keeps 16 bits per component

void expectNear(const RGBA& actual, const RGBA& expected) {
  EXPECT_NEAR(actual.red, expected.red, kStep);
  EXPECT_NEAR(actual.green, expected.green, kStep);
  EXPECT_NEAR(actual.blue, expected.blue, kStep);
  EXPECT_NEAR(actual.alpha, expected.alpha, kStep);
}

TEST(RGBAColor, TakesSRGBComponentsFromAnyColourModel) {
  expectNear(rgbaFromQColor(QColor::fromHsvF(0.0f, 1.0f, 1.0f, 0.5f)), {1, 0, 0, 0.5});
  expectNear(rgbaFromQColor(QColor::fromHslF(1.0f / 3, 1.0f, 0.5f)), {0, 1, 0, 1});
  expectNear(rgbaFromQColor(QColor::fromCmykF(1.0f, 1.0f, 0.0f, 0.0f)), {0, 0, 1, 1});
  expectNear(rgbaFromQColor(QColor(255, 128, 0, 128)), {1, 128 / 255.0, 0, 128 / 255.0});
  // An extended-range colour is brought back into 0 ... 1.
  const RGBA extended = rgbaFromQColor(QColor(QRgba64::fromRgba64(0, 0, 0, 0xffff)).toExtendedRgb());
  expectNear(extended, {0, 0, 0, 1});
}

TEST(RGBAColor, AColourThatCannotBeConvertedGivesOpaqueWhite) {
  expectNear(rgbaFromQColor(QColor()), {1, 1, 1, 1});
  expectNear(rgbaFromQColor(QColor(QStringLiteral("no such colour"))), {1, 1, 1, 1});
}

TEST(RGBAColor, EveryPresetColourSurvivesTheRoundTrip) {
  for (const auto& preset : DisplayStyle::presets()) {
    expectNear(rgbaFromQColor(toQColor(preset.style.text)), preset.style.text);
    expectNear(rgbaFromQColor(toQColor(preset.style.background)), preset.style.background);
  }
  const QColor half = toQColor({0.2, 0.4, 0.6, 0.5});
  EXPECT_EQ(half.spec(), QColor::Rgb);
  EXPECT_NEAR(half.alphaF(), 0.5, kStep);
}

TEST(RGBAColor, OutOfRangeStoredComponentsStillGiveAValidColour) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const QColor color = toQColor({1.5, -0.25, nan, 2.0});
  ASSERT_TRUE(color.isValid());
  EXPECT_EQ(color.spec(), QColor::Rgb);
  expectNear(rgbaFromQColor(color), {1, 0, 0, 1});
  EXPECT_NEAR(toQColor({0, 0, 0, -1}).alphaF(), 0.0, kStep);
}

}  // namespace
}  // namespace quillmark
