#pragma once
// Persistence: where the settings and the display style of one profile live between runs. Each record is
// compact JSON stored as a byte blob under its key in the per-user store (QSettings): "settings" and
// "display", or "settings-" and "display-" followed by the profile. A missing or unreadable record loads as
// the defaults, silently; an unreadable one is kept aside under its key + "/unreadable" just before it is
// first replaced, so a hand-edited record or one written by a newer version is never lost to a save.
// Any profile text (slashes, "..", spaces, any bytes) only ever names keys inside the one settings file,
// and different profile texts never share a key.
// Threads: main thread only; one instance per process, owned by the store.

#include <memory>
#include <optional>
#include <string>

#include "app/display_style.h"
#include "app/settings.h"

namespace quillmark {

class Persistence {
 public:
  // The user's store: QSettings' native format and user scope for "quillmark", which is
  // $XDG_CONFIG_HOME/quillmark/quillmark.conf (QSettings::setPath moves it, for tests).
  explicit Persistence(std::optional<std::string> profile);
  // A given settings file instead (tools, tests).
  Persistence(std::optional<std::string> profile, const std::string& filePath);
  ~Persistence();
  Persistence(const Persistence&) = delete;
  Persistence& operator=(const Persistence&) = delete;

  const std::optional<std::string>& profile() const noexcept { return profile_; }

  // The logical keys of this profile: "settings" / "display", or with "-" and the profile appended.
  static std::string settingsKey(const std::optional<std::string>& profile);
  static std::string displayKey(const std::optional<std::string>& profile);

  // The stored record, or the defaults when there is none or it does not decode. The stored blob is left
  // as it is until the next save.
  Settings loadSettings();
  DisplayStyle loadDisplayStyle();

  // Encodes and writes the record under its key, replacing what was there, and asks the store to write
  // it to disk. Writes nothing and returns false when the record cannot be encoded (a non-finite real).
  bool saveSettings(const Settings& settings);
  bool saveDisplayStyle(const DisplayStyle& style);

  // The key under which QSettings holds a logical key: the same text with "%", "/", "\" and bytes that
  // are control characters or not UTF-8 written as "%XX". QSettings reads "/" and "\" as group separators
  // and folds repeated or trailing ones, so without this "a/" and "a" (or "a//b" and "a/b") would share a
  // record; escaped, every key is a single name in the file's root and distinct texts stay distinct.
  static std::string storeKey(const std::string& logicalKey);

 private:
  struct Slot;
  template <class T>
  T load(Slot& slot);
  template <class T>
  bool save(Slot& slot, const T& value);

  struct Impl;
  std::optional<std::string> profile_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmark
