#include "app/persistence.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

#include "app/json_fields.h"

namespace quillmark {

namespace {

// Length of the well-formed UTF-8 sequence starting at text[i] (overlong forms, surrogates and code points
// beyond U+10FFFF are not well formed), or 0 when there is none.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// What a stored value holds as JSON bytes. We write byte arrays; a text value (a hand-edited file) is
// read as its UTF-8. Anything else is not a record.
std::optional<QByteArray> blobOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QByteArray) return value.toByteArray();
  if (value.typeId() == QMetaType::QString) return value.toString().toUtf8();
  return std::nullopt;
}

}  // namespace

struct Persistence::Slot {
  QString key;                      // the escaped key in QSettings
  std::optional<QVariant> pending;  // an unreadable stored value not yet kept aside
};

struct Persistence::Impl {
  std::unique_ptr<QSettings> store;
  Slot settings;
  Slot display;
};

Persistence::Persistence(std::optional<std::string> profile) : profile_(std::move(profile)), impl_(new Impl) {
  impl_->store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("quillmark"), QStringLiteral("quillmark"));
  impl_->settings.key = json::qstring(storeKey(settingsKey(profile_)));
  impl_->display.key = json::qstring(storeKey(displayKey(profile_)));
}

Persistence::Persistence(std::optional<std::string> profile, const std::string& filePath)
    : profile_(std::move(profile)), impl_(new Impl) {
  impl_->store = std::make_unique<QSettings>(json::qstring(filePath), QSettings::NativeFormat);
  impl_->settings.key = json::qstring(storeKey(settingsKey(profile_)));
  impl_->display.key = json::qstring(storeKey(displayKey(profile_)));
}

Persistence::~Persistence() = default;

std::string Persistence::settingsKey(const std::optional<std::string>& profile) {
  return profile ? "settings-" + *profile : std::string("settings");
}

std::string Persistence::displayKey(const std::optional<std::string>& profile) {
  return profile ? "display-" + *profile : std::string("display");
}

std::string Persistence::storeKey(const std::string& logicalKey) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string key;
  key.reserve(logicalKey.size());
  std::size_t i = 0;
  while (i < logicalKey.size()) {
    const auto byte = static_cast<unsigned char>(logicalKey[i]);
    if (byte >= 0x80) {
      if (const std::size_t length = utf8SequenceLength(logicalKey, i)) {
        key.append(logicalKey, i, length);
        i += length;
        continue;
      }
    } else if (byte >= 0x20 && byte != 0x7F && byte != '%' && byte != '/' && byte != '\\') {
      key.push_back(static_cast<char>(byte));
      ++i;
      continue;
    }
    key.push_back('%');
    key.push_back(kHex[byte >> 4]);
    key.push_back(kHex[byte & 0x0F]);
    ++i;
  }
  return key;
}

template <class T>
T Persistence::load(Slot& slot) {
  slot.pending.reset();
  const QVariant value = impl_->store->value(slot.key);
  if (!value.isValid()) return T{};
  if (const std::optional<QByteArray> bytes = blobOf(value)) {
    if (std::optional<T> decoded = T::fromJSON(std::string_view(bytes->constData(), bytes->size()))) {
      return *decoded;
    }
  }
  slot.pending = value;
  return T{};
}

template <class T>
bool Persistence::save(Slot& slot, const T& value) {
  const std::optional<std::string> json = value.toJSON();
  if (!json) return false;
  QSettings& store = *impl_->store;
  if (slot.pending) {
    // "/" never occurs in an escaped key, so this name cannot be any profile's own key.
    store.setValue(slot.key + QStringLiteral("/unreadable"), *slot.pending);
    slot.pending.reset();
  }
  store.setValue(slot.key, QByteArray(json->data(), static_cast<qsizetype>(json->size())));
  // Settings change seldom and a studio machine may lose power; write through rather than wait for
  // QSettings' own deferred write, which also needs an event loop to run.
  store.sync();
  return true;
}

Settings Persistence::loadSettings() {
  return load<Settings>(impl_->settings);
}

DisplayStyle Persistence::loadDisplayStyle() {
  return load<DisplayStyle>(impl_->display);
}

bool Persistence::saveSettings(const Settings& settings) {
  return save(impl_->settings, settings);
}

bool Persistence::saveDisplayStyle(const DisplayStyle& style) {
  return save(impl_->display, style);
}

}  // namespace quillmark
