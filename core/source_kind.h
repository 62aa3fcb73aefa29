#pragma once
// SourceKind: which input drives the engine. The raw value text is persisted in the settings and shown
// in the source picker, so it never changes.
// Threads: a plain value, safe anywhere; nothing here allocates.

#include <array>
#include <optional>
#include <string_view>

namespace quillmark {

enum class SourceKind { ltc, mtc, generator, artnet };

// In the order the source picker shows them.
inline constexpr std::array<SourceKind, 4> kAllSourceKinds = {SourceKind::ltc, SourceKind::mtc,
                                                              SourceKind::artnet, SourceKind::generator};

constexpr std::string_view rawValue(SourceKind kind) noexcept {
  switch (kind) {
    case SourceKind::ltc:
      return "LTC in";
    case SourceKind::mtc:
      return "MTC in";
    case SourceKind::generator:
      return "Generator";
    case SourceKind::artnet:
      return "Art-Net in";
  }
  return "LTC in";
}

// Exactly the four raw values; anything else is no source.
constexpr std::optional<SourceKind> sourceKindFromRaw(std::string_view text) noexcept {
  for (SourceKind kind : kAllSourceKinds) {
    if (rawValue(kind) == text) return kind;
  }
  return std::nullopt;
}

}  // namespace quillmark
