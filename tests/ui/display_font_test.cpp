#include "ui/display_font.h"

#include <gtest/gtest.h>
#include <QFontDatabase>
#include <QFontInfo>

namespace quillmark {
namespace {

TEST(DisplayFont, EveryTypefaceAndWeightCanShowATimecode) {
  for (Typeface typeface : kAllTypefaces) {
    for (Weight weight : kAllWeights) {
      const QFont font = displayFont(typeface, weight, 40);
      EXPECT_TRUE(canShowTimecode(font)) << rawValue(typeface).data() << " " << rawValue(weight).data();
      EXPECT_EQ(font.pixelSize(), 40);
    }
  }
  EXPECT_GE(displayFont(Typeface::sans, Weight::regular, 0).pixelSize(), 1);
}

TEST(DisplayFont, MissingNamedFontsFallBackToFacesOfTheSameKindAndWeight) {
  for (Typeface typeface : {Typeface::mono, Typeface::sans, Typeface::menlo}) {
    const QFontInfo regular(displayFont(typeface, Weight::regular, 40));
    EXPECT_GT(QFontInfo(displayFont(typeface, Weight::bold, 40)).weight(), regular.weight())
        << rawValue(typeface).data();
    if (typeface != Typeface::sans) {
      EXPECT_TRUE(regular.fixedPitch()) << rawValue(typeface).data();
    }
  }
  // Menlo grew out of the same Vera letterforms as DejaVu Sans Mono, which the project installs.
  if (!QFontDatabase::families().contains("Menlo")) {
    EXPECT_EQ(QFontInfo(displayFont(Typeface::menlo, Weight::bold, 40)).family(), "DejaVu Sans Mono");
  }
}

}  // namespace
}  // namespace quillmark
