#pragma once
// Strict typed reads from a QJsonObject, shared by the Settings and DisplayStyle decoders. Each returns no
// value when the key is missing or holds the wrong JSON type, so a decoder can give up on the whole record.
// Also the UTF-8 conversions between the std types of the plain values and Qt's JSON types.
// Threads: pure functions, safe anywhere.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark::json {

inline QString qstring(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string utf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The top-level object of a document, or no value when the bytes are not JSON or not an object.
std::optional<QJsonObject> parseObject(std::string_view bytes);

// The object as compact UTF-8 JSON.
std::string compact(const QJsonObject& object);

std::optional<bool> boolean(const QJsonObject& object, const QString& key);
std::optional<double> real(const QJsonObject& object, const QString& key);
// A JSON number with an integral value that fits in 64 bits (2 and 2.0 both read as 2; 2.5 does not).
std::optional<std::int64_t> integer(const QJsonObject& object, const QString& key);
std::optional<std::string> text(const QJsonObject& object, const QString& key);
std::optional<QJsonObject> object(const QJsonObject& object, const QString& key);

// An optional field: a missing key or null is absent (the outer value holds an empty inner one); any other
// type than a string is a decoding failure (no outer value).
std::optional<std::optional<std::string>> optionalText(const QJsonObject& object, const QString& key);

}  // namespace quillmark::json
