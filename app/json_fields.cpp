#include "app/json_fields.h"

#include <QJsonParseError>
#include <QVariant>
#include <cmath>

namespace quillmark::json {

std::optional<QJsonObject> parseObject(std::string_view bytes) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(
      QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  return document.object();
}

std::string compact(const QJsonObject& object) {
  const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::optional<bool> boolean(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (!value.isBool()) return std::nullopt;
  return value.toBool();
}

std::optional<double> real(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (!value.isDouble()) return std::nullopt;
  return value.toDouble();
}

std::optional<std::int64_t> integer(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (!value.isDouble()) return std::nullopt;
  // The parser keeps integers written without a fraction exactly (all 64 bits); anything else arrives as a
  // double, which is accepted only when it names an integer inside the 64-bit range.
  const QVariant variant = value.toVariant();
  if (variant.typeId() == QMetaType::LongLong) return variant.toLongLong();
  const double number = value.toDouble();
  constexpr double kLimit = 9223372036854775808.0;  // 2^63, exactly representable
  if (!std::isfinite(number) || number != std::trunc(number) || number < -kLimit || number >= kLimit) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(number);
}

std::optional<std::string> text(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (!value.isString()) return std::nullopt;
  return utf8(value.toString());
}

std::optional<QJsonObject> object(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (!value.isObject()) return std::nullopt;
  return value.toObject();
}

std::optional<std::optional<std::string>> optionalText(const QJsonObject& object, const QString& key) {
  const QJsonValue value = object.value(key);
  if (value.isUndefined() || value.isNull()) return std::optional<std::string>{};
  if (!value.isString()) return std::nullopt;
  return std::optional<std::string>{utf8(value.toString())};
}

}  // namespace quillmark::json
