#include "ui/display_font.h"

#include <gtest/gtest.h>
#include <QFontDatabase>
#include <QFontInfo>
#include <QSet>

namespace quillmark {
namespace {

TEST(DisplayFont, EveryTypefaceAndWeightCanShowATimecodeAndMissingFontsFallBackToTheirKind) {
  for (Typeface typeface : kAllTypefaces) {
    for (Weight weight : kAllWeights) {
      const QFont font = displayFont(typeface, weight, 40);
      EXPECT_TRUE(canShowTimecode(font)) << rawValue(typeface).data() << " " << rawValue(weight).data();
      EXPECT_EQ(font.pixelSize(), 40);
    }
  }
  EXPECT_GE(displayFont(Typeface::sans, Weight::regular, 0).pixelSize(), 1);

  // Missing named fonts fall back to faces of the same kind and weight.
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

// With the fonts scripts/deps.sh installs, no two typeface choices look the same.
TEST(DisplayFont, EachTypefaceDrawsWithAFaceOfItsOwn) {
  const QStringList families = QFontDatabase::families();
  for (const char* family : {"JetBrains Mono", "Quicksand", "Inter", "OSP-DIN", "DejaVu Sans Mono"}) {
    if (!families.contains(family)) GTEST_SKIP() << family << " is not installed";
  }
  QSet<QString> used;
  for (Typeface typeface :
       {Typeface::mono, Typeface::rounded, Typeface::sans, Typeface::din, Typeface::menlo}) {
    const QString family = QFontInfo(displayFont(typeface, Weight::bold, 40)).family();
    EXPECT_FALSE(used.contains(family)) << rawValue(typeface).data() << " repeats " << family.toStdString();
    used.insert(family);
  }
}

}  // namespace
}  // namespace quillmark
