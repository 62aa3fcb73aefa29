#include "ui/display_font.h"

#include <gtest/gtest.h>
#include <QFontDatabase>
#include <QFontInfo>
#include <QSet>

namespace quillmark {
namespace {

// Every choice shows a timecode at the size asked; with the fonts scripts/deps.sh installs no two typeface
// choices look the same, and missing named fonts fall back to faces of the same kind and weight.
TEST(DisplayFont, EveryTypefaceAndWeightShowsATimecodeInAFaceOfItsOwnOrOfItsKind) {
  const QStringList families = QFontDatabase::families();
  bool allInstalled = true;
  for (const char* family : {"JetBrains Mono", "Quicksand", "Inter", "OSP-DIN", "DejaVu Sans Mono"})
    allInstalled = allInstalled && families.contains(family);
  QSet<QString> used;
  for (Typeface typeface : kAllTypefaces) {
    for (Weight weight : kAllWeights) {
      const QFont font = displayFont(typeface, weight, 40);
      EXPECT_TRUE(canShowTimecode(font)) << rawValue(typeface).data() << " " << rawValue(weight).data();
      EXPECT_EQ(font.pixelSize(), 40);
    }
    const QString family = QFontInfo(displayFont(typeface, Weight::bold, 40)).family();
    if (allInstalled && typeface != Typeface::segments) {
      EXPECT_FALSE(used.contains(family)) << rawValue(typeface).data() << " repeats " << family.toStdString();
      used.insert(family);
    }
  }
  EXPECT_GE(displayFont(Typeface::sans, Weight::regular, 0).pixelSize(), 1);

  for (Typeface typeface : {Typeface::mono, Typeface::sans, Typeface::menlo}) {
    const QFontInfo regular(displayFont(typeface, Weight::regular, 40));
    EXPECT_GT(QFontInfo(displayFont(typeface, Weight::bold, 40)).weight(), regular.weight())
        << rawValue(typeface).data();
    if (typeface != Typeface::sans) {
      EXPECT_TRUE(regular.fixedPitch()) << rawValue(typeface).data();
    }
  }
  // Menlo grew out of the same Vera letterforms as DejaVu Sans Mono, which the project installs.
  if (!families.contains("Menlo")) {
    EXPECT_EQ(QFontInfo(displayFont(Typeface::menlo, Weight::bold, 40)).family(), "DejaVu Sans Mono");
  }
}

}  // namespace
}  // namespace quillmark
