#include "ui/display_font.h"

#include <algorithm>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>

namespace quillmark {

namespace {

// Menlo is a descendant of Bitstream Vera Sans Mono, as is DejaVu Sans Mono, which nearly every Linux
// desktop has: the same letterforms, so it is the closest stand-in there is.
// Menlo is a descendant of Bitstream Vera Sans Mono, as is DejaVu Sans Mono, which nearly every Linux
// desktop has: the same letterforms, so it is the closest stand-in there is.
const QStringList kMenloLike = {"Menlo", "DejaVu Sans Mono", "Bitstream Vera Sans Mono"};
// JetBrains Mono (fonts-jetbrains-mono) is, like SF Mono, a modern monospace drawn for screens, and looks
// unlike Menlo's stand-in.
const QStringList kMonoLike = {"SF Mono",        "JetBrains Mono",   "Source Code Pro",
                               "Noto Sans Mono", "DejaVu Sans Mono", "Liberation Mono"};
// Quicksand (fonts-quicksand) is the rounded sans Debian ships; the others are used where installed.
const QStringList kRoundedLike = {"SF Pro Rounded", "SF Rounded",        "Nunito",
                                  "Varela Round",   "M PLUS Rounded 1c", "Quicksand"};
// Inter (fonts-inter) was drawn after the same neo-grotesque models as SF Pro.
const QStringList kSansLike = {"SF Pro", "SF Pro Display", "Inter"};
// DIN 1451 revivals and relatives: OSP-DIN (fonts-opendin) is a DIN 1451 Mittelschrift in Debian, D-DIN
// and Barlow are free, Bahnschrift comes with Windows fonts.
const QStringList kDinAlternateLike = {"DIN Alternate", "D-DIN", "OSP-DIN", "Barlow", "Bahnschrift"};
const QStringList kDinCondensedLike = {"DIN Condensed", "D-DIN Condensed", "Barlow Condensed",
                                       "Bahnschrift Condensed", "OSP-DIN"};

bool isInstalled(const QString& family) {
  static const QStringList families = QFontDatabase::families();
  return families.contains(family, Qt::CaseInsensitive);
}

QFont makeFont(const QString& family, QFont::Weight weight, int pixelSize) {
  QFont font(family);
  font.setWeight(weight);
  font.setPixelSize(std::max(1, pixelSize));
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

// The named DIN faces exist only in bold, so a DIN stand-in is drawn bold whatever the weight.
bool isDin(Typeface typeface) {
  return typeface == Typeface::din;
}

}  // namespace

QFont::Weight qtWeight(Weight weight) noexcept {
  switch (weight) {
    case Weight::light:
      return QFont::Light;
    case Weight::regular:
      return QFont::Normal;
    case Weight::semibold:
      return QFont::DemiBold;
    case Weight::bold:
      return QFont::Bold;
    case Weight::heavy:
      return QFont::ExtraBold;
  }
  return QFont::DemiBold;
}

QStringList displayFontCandidates(Typeface typeface, Weight weight) {
  switch (typeface) {
    case Typeface::mono:
    case Typeface::segments:
      return kMonoLike;
    case Typeface::rounded:
      return kRoundedLike + kSansLike;
    case Typeface::sans:
      return kSansLike;
    case Typeface::din:
      return weight == Weight::light || weight == Weight::regular ? kDinAlternateLike : kDinCondensedLike;
    case Typeface::menlo:
      return kMenloLike;
  }
  return {};
}

bool canShowTimecode(const QFont& font) {
  const QFontMetricsF metrics(font);
  for (QChar ch : QStringLiteral("0123456789:;-")) {
    if (!metrics.inFont(ch) || metrics.horizontalAdvance(ch) <= 0) return false;
  }
  return metrics.height() > 0;
}

QFont displayFont(Typeface typeface, Weight weight, int pixelSize) {
  const QFont::Weight wanted = qtWeight(weight);
  for (const QString& family : displayFontCandidates(typeface, weight)) {
    if (!isInstalled(family)) continue;
    const QFont font = makeFont(family, isDin(typeface) ? QFont::Bold : wanted, pixelSize);
    if (canShowTimecode(font)) return font;
  }

  // The desktop's own fonts: fixed for the monospaced faces, the general font for the others.
  const bool fixed =
      typeface == Typeface::mono || typeface == Typeface::menlo || typeface == Typeface::segments;
  QFont system = QFontDatabase::systemFont(fixed ? QFontDatabase::FixedFont : QFontDatabase::GeneralFont);
  system.setWeight(wanted);
  system.setPixelSize(std::max(1, pixelSize));
  system.setStyleStrategy(QFont::PreferAntialias);
  if (canShowTimecode(system)) return system;

  // A desktop whose configured font cannot show digits: let fontconfig pick any face by kind.
  QFont generic =
      makeFont(fixed ? QStringLiteral("monospace") : QStringLiteral("sans-serif"), wanted, pixelSize);
  generic.setStyleHint(fixed ? QFont::Monospace : QFont::SansSerif);
  return generic;
}

}  // namespace quillmark
