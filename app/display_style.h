#pragma once
// DisplayStyle: how the big timecode display looks (typeface or seven-segment digits, weight, colours and
// six switches), with the built-in presets the style editor offers and the JSON form the style is
// persisted in. It says nothing about drawing; the views turn it into fonts and colours.
// Threads: a plain value, copied freely and safe anywhere. Only the JSON functions allocate.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark {

// A colour as sRGB components from 0 to 1, alpha included (1 is opaque).
struct RGBA {
  double red = 1.0;
  double green = 1.0;
  double blue = 1.0;
  double alpha = 1.0;

  bool operator==(const RGBA&) const = default;
};

// How the digits are drawn. The raw values are persisted and shown in the editor, in this order.
enum class Typeface { mono, rounded, sans, din, menlo, segments };

inline constexpr std::array<Typeface, 6> kAllTypefaces = {
    Typeface::mono, Typeface::rounded, Typeface::sans, Typeface::din, Typeface::menlo, Typeface::segments};

// "SF Mono", "SF Rounded", "SF Pro", "DIN", "Menlo", "LED segments".
constexpr std::string_view rawValue(Typeface typeface) noexcept {
  switch (typeface) {
    case Typeface::mono:
      return "SF Mono";
    case Typeface::rounded:
      return "SF Rounded";
    case Typeface::sans:
      return "SF Pro";
    case Typeface::din:
      return "DIN";
    case Typeface::menlo:
      return "Menlo";
    case Typeface::segments:
      return "LED segments";
  }
  return "LED segments";
}

// Exactly the six raw values; anything else is no typeface.
constexpr std::optional<Typeface> typefaceFromRaw(std::string_view text) noexcept {
  for (Typeface typeface : kAllTypefaces) {
    if (rawValue(typeface) == text) return typeface;
  }
  return std::nullopt;
}

// Font weight of the text typefaces, lightest first.
enum class Weight { light, regular, semibold, bold, heavy };

inline constexpr std::array<Weight, 5> kAllWeights = {Weight::light, Weight::regular, Weight::semibold,
                                                      Weight::bold, Weight::heavy};

// "Light", "Regular", "Semibold", "Bold", "Heavy".
constexpr std::string_view rawValue(Weight weight) noexcept {
  switch (weight) {
    case Weight::light:
      return "Light";
    case Weight::regular:
      return "Regular";
    case Weight::semibold:
      return "Semibold";
    case Weight::bold:
      return "Bold";
    case Weight::heavy:
      return "Heavy";
  }
  return "Semibold";
}

// Exactly the five raw values; anything else is no weight.
constexpr std::optional<Weight> weightFromRaw(std::string_view text) noexcept {
  for (Weight weight : kAllWeights) {
    if (rawValue(weight) == text) return weight;
  }
  return std::nullopt;
}

struct DisplayStyle {
  struct Preset;

  Typeface typeface = Typeface::segments;
  Weight weight = Weight::semibold;
  RGBA text{1.0, 0.55, 0.1, 1.0};
  RGBA background{0.04, 0.04, 0.05, 1.0};
  bool showFrames = true;     // off: hours, minutes and seconds only
  bool showInfo = true;       // the state and rate line under the digits
  bool colorByState = true;   // tint the digits by clock state
  bool ghostSegments = true;  // draw unlit segments faintly
  bool slanted = true;        // lean the seven-segment digits
  bool alwaysOnTop = false;   // keep the display window above the others

  bool operator==(const DisplayStyle&) const = default;

  // The six built-in styles, in the order the editor lists them. The default style is the first.
  static const std::array<Preset, 6>& presets() noexcept;

  // The preset of that exact name; no value for any other name.
  static std::optional<DisplayStyle> preset(std::string_view name) noexcept;

  // What choosing a preset in the editor gives: the preset's look with this style's alwaysOnTop, since a
  // preset never changes the window level. No value (nothing changes) for an unknown name.
  std::optional<DisplayStyle> choosingPreset(std::string_view name) const noexcept;

  // The compact JSON object with all ten keys, UTF-8. No value when a colour component is not a finite
  // number (JSON has no form for it), in which case nothing should be written.
  std::optional<std::string> toJSON() const;

  // Every key is required; a missing key, a wrong type or an unknown raw value gives no value at all.
  // Unknown keys are ignored.
  static std::optional<DisplayStyle> fromJSON(std::string_view bytes);
};

struct DisplayStyle::Preset {
  std::string_view name;
  DisplayStyle style;
};

}  // namespace quillmark
