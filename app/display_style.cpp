#include "app/display_style.h"

#include <cmath>

#include "app/json_fields.h"

namespace quillmark {

namespace {

constexpr RGBA kDarkBackground{0.04, 0.04, 0.05, 1.0};

// A style with every switch on except alwaysOnTop, the common case of the presets.
constexpr DisplayStyle makeStyle(Typeface typeface, Weight weight, RGBA text, RGBA background,
                                 bool ghostSegments = true) {
  DisplayStyle style;
  style.typeface = typeface;
  style.weight = weight;
  style.text = text;
  style.background = background;
  style.ghostSegments = ghostSegments;
  return style;
}

const std::array<DisplayStyle::Preset, 6> kPresets = {{
    {"Amber LED", makeStyle(Typeface::segments, Weight::semibold, {1.0, 0.55, 0.1, 1.0}, kDarkBackground)},
    {"Red LED", makeStyle(Typeface::segments, Weight::semibold, {1.0, 0.12, 0.08, 1.0}, kDarkBackground)},
    {"Green LED", makeStyle(Typeface::segments, Weight::semibold, {0.2, 1.0, 0.35, 1.0}, kDarkBackground)},
    {"White on black",
     makeStyle(Typeface::mono, Weight::semibold, {1.0, 1.0, 1.0, 1.0}, kDarkBackground, false)},
    {"Broadcast", makeStyle(Typeface::din, Weight::bold, {1.0, 1.0, 1.0, 1.0}, {0.05, 0.12, 0.3, 1.0})},
    {"Black on white",
     makeStyle(Typeface::rounded, Weight::bold, {0.0, 0.0, 0.0, 1.0}, {1.0, 1.0, 1.0, 1.0})},
}};

bool isFinite(const RGBA& c) {
  return std::isfinite(c.red) && std::isfinite(c.green) && std::isfinite(c.blue) && std::isfinite(c.alpha);
}

QJsonObject colourObject(const RGBA& c) {
  QJsonObject object;
  object.insert(QStringLiteral("red"), c.red);
  object.insert(QStringLiteral("green"), c.green);
  object.insert(QStringLiteral("blue"), c.blue);
  object.insert(QStringLiteral("alpha"), c.alpha);
  return object;
}

std::optional<RGBA> colourFrom(const QJsonObject& parent, const QString& key) {
  const auto object = json::object(parent, key);
  if (!object) return std::nullopt;
  const auto red = json::real(*object, QStringLiteral("red"));
  const auto green = json::real(*object, QStringLiteral("green"));
  const auto blue = json::real(*object, QStringLiteral("blue"));
  const auto alpha = json::real(*object, QStringLiteral("alpha"));
  if (!red || !green || !blue || !alpha) return std::nullopt;
  return RGBA{*red, *green, *blue, *alpha};
}

}  // namespace

const std::array<DisplayStyle::Preset, 6>& DisplayStyle::presets() noexcept {
  return kPresets;
}

std::optional<DisplayStyle> DisplayStyle::preset(std::string_view name) noexcept {
  for (const Preset& preset : kPresets) {
    if (preset.name == name) return preset.style;
  }
  return std::nullopt;
}

std::optional<DisplayStyle> DisplayStyle::choosingPreset(std::string_view name) const noexcept {
  std::optional<DisplayStyle> chosen = preset(name);
  if (chosen) chosen->alwaysOnTop = alwaysOnTop;
  return chosen;
}

std::optional<std::string> DisplayStyle::toJSON() const {
  if (!isFinite(text) || !isFinite(background)) return std::nullopt;
  using json::qstring;
  QJsonObject object;
  object.insert(QStringLiteral("typeface"), qstring(rawValue(typeface)));
  object.insert(QStringLiteral("weight"), qstring(rawValue(weight)));
  object.insert(QStringLiteral("text"), colourObject(text));
  object.insert(QStringLiteral("background"), colourObject(background));
  object.insert(QStringLiteral("showFrames"), showFrames);
  object.insert(QStringLiteral("showInfo"), showInfo);
  object.insert(QStringLiteral("colorByState"), colorByState);
  object.insert(QStringLiteral("ghostSegments"), ghostSegments);
  object.insert(QStringLiteral("slanted"), slanted);
  object.insert(QStringLiteral("alwaysOnTop"), alwaysOnTop);
  return json::compact(object);
}

std::optional<DisplayStyle> DisplayStyle::fromJSON(std::string_view bytes) {
  const std::optional<QJsonObject> parsed = json::parseObject(bytes);
  if (!parsed) return std::nullopt;
  const QJsonObject& o = *parsed;

  const auto typefaceText = json::text(o, QStringLiteral("typeface"));
  const auto typeface = typefaceText ? typefaceFromRaw(*typefaceText) : std::nullopt;
  const auto weightText = json::text(o, QStringLiteral("weight"));
  const auto weight = weightText ? weightFromRaw(*weightText) : std::nullopt;
  const auto text = colourFrom(o, QStringLiteral("text"));
  const auto background = colourFrom(o, QStringLiteral("background"));
  const auto showFrames = json::boolean(o, QStringLiteral("showFrames"));
  const auto showInfo = json::boolean(o, QStringLiteral("showInfo"));
  const auto colorByState = json::boolean(o, QStringLiteral("colorByState"));
  const auto ghostSegments = json::boolean(o, QStringLiteral("ghostSegments"));
  const auto slanted = json::boolean(o, QStringLiteral("slanted"));
  const auto alwaysOnTop = json::boolean(o, QStringLiteral("alwaysOnTop"));

  if (!typeface || !weight || !text || !background || !showFrames || !showInfo || !colorByState ||
      !ghostSegments || !slanted || !alwaysOnTop) {
    return std::nullopt;
  }
  return DisplayStyle{*typeface, *weight,       *text,          *background, *showFrames,
                      *showInfo, *colorByState, *ghostSegments, *slanted,    *alwaysOnTop};
}

}  // namespace quillmark
