#include "app/settings.h"

#include <cmath>

#include "app/json_fields.h"

namespace quillmark {

namespace {

// A field added after the first release: a missing key keeps `fallback`, any present value must read.
// No outer value when the key is there but `read` rejects it.
template <class T, class Read>
std::optional<T> withDefault(const QJsonObject& o, const QString& key, const T& fallback, Read read) {
  if (!o.contains(key)) return fallback;
  return read(o, key);
}

std::optional<std::int64_t> port(const QJsonObject& o, const QString& key) {
  const std::optional<std::int64_t> value = json::integer(o, key);
  if (!value || *value < 0 || *value > 65535) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> Settings::toJSON() const {
  // JSON has no infinity or NaN; writing one as null would make the whole record unreadable on the next
  // start, so such a record is not encoded at all.
  if (!std::isfinite(freewheel) || !std::isfinite(mtcLeadMilliseconds) || !std::isfinite(ltcOutLevel) ||
      !std::isfinite(artnetLeadMilliseconds)) {
    return std::nullopt;
  }
  using json::qstring;
  QJsonObject object;
  object.insert(QStringLiteral("source"), qstring(rawValue(source)));
  if (inputRate) object.insert(QStringLiteral("inputRate"), qstring(rawValue(*inputRate)));
  if (ltcInputUID) object.insert(QStringLiteral("ltcInputUID"), qstring(*ltcInputUID));
  object.insert(QStringLiteral("ltcInputChannel"), QJsonValue(static_cast<qint64>(ltcInputChannel)));
  object.insert(QStringLiteral("mtcInputName"), qstring(mtcInputName));
  object.insert(QStringLiteral("freewheel"), freewheel);
  object.insert(QStringLiteral("mtcOutEnabled"), mtcOutEnabled);
  object.insert(QStringLiteral("mtcOutName"), qstring(mtcOutName));
  object.insert(QStringLiteral("mtcLeadMilliseconds"), mtcLeadMilliseconds);
  object.insert(QStringLiteral("ltcOutEnabled"), ltcOutEnabled);
  if (ltcOutUID) object.insert(QStringLiteral("ltcOutUID"), qstring(*ltcOutUID));
  object.insert(QStringLiteral("ltcOutChannel"), QJsonValue(static_cast<qint64>(ltcOutChannel)));
  object.insert(QStringLiteral("ltcOutPair"), ltcOutPair);
  object.insert(QStringLiteral("ltcOutLevel"), ltcOutLevel);
  object.insert(QStringLiteral("offsetFrames"), QJsonValue(static_cast<qint64>(offsetFrames)));
  object.insert(QStringLiteral("generatorRate"), qstring(rawValue(generatorRate)));
  object.insert(QStringLiteral("generatorStart"), qstring(generatorStart));
  object.insert(QStringLiteral("timeOfDay"), timeOfDay);
  object.insert(QStringLiteral("artnetOutEnabled"), artnetOutEnabled);
  object.insert(QStringLiteral("artnetOutAddress"), qstring(artnetOutAddress));
  object.insert(QStringLiteral("artnetOutPort"), QJsonValue(static_cast<qint64>(artnetOutPort)));
  object.insert(QStringLiteral("artnetLeadMilliseconds"), artnetLeadMilliseconds);
  object.insert(QStringLiteral("artnetInAddress"), qstring(artnetInAddress));
  object.insert(QStringLiteral("artnetInPort"), QJsonValue(static_cast<qint64>(artnetInPort)));
  return json::compact(object);
}

std::optional<Settings> Settings::fromJSON(std::string_view bytes) {
  const std::optional<QJsonObject> parsed = json::parseObject(bytes);
  if (!parsed) return std::nullopt;
  const QJsonObject& o = *parsed;

  // A rate is optional only as a whole: a missing key or null is "Auto", but text that names no rate
  // (or a number) fails the record like any other bad value.
  std::optional<FrameRate> inputRate;
  const QJsonValue rateValue = o.value(QStringLiteral("inputRate"));
  if (!rateValue.isUndefined() && !rateValue.isNull()) {
    if (!rateValue.isString()) return std::nullopt;
    inputRate = frameRateFromRaw(json::utf8(rateValue.toString()));
    if (!inputRate) return std::nullopt;
  }

  const auto sourceText = json::text(o, QStringLiteral("source"));
  const auto source = sourceText ? sourceKindFromRaw(*sourceText) : std::nullopt;
  const auto ltcInputUID = json::optionalText(o, QStringLiteral("ltcInputUID"));
  const auto ltcInputChannel = json::integer(o, QStringLiteral("ltcInputChannel"));
  const auto mtcInputName = json::text(o, QStringLiteral("mtcInputName"));
  const auto freewheel = json::real(o, QStringLiteral("freewheel"));
  const auto mtcOutEnabled = json::boolean(o, QStringLiteral("mtcOutEnabled"));
  const auto mtcOutName = json::text(o, QStringLiteral("mtcOutName"));
  const auto mtcLeadMilliseconds = json::real(o, QStringLiteral("mtcLeadMilliseconds"));
  const auto ltcOutEnabled = json::boolean(o, QStringLiteral("ltcOutEnabled"));
  const auto ltcOutUID = json::optionalText(o, QStringLiteral("ltcOutUID"));
  const auto ltcOutChannel = json::integer(o, QStringLiteral("ltcOutChannel"));
  const auto ltcOutPair = json::boolean(o, QStringLiteral("ltcOutPair"));
  const auto ltcOutLevel = json::real(o, QStringLiteral("ltcOutLevel"));
  const auto offsetFrames = json::integer(o, QStringLiteral("offsetFrames"));
  const auto generatorText = json::text(o, QStringLiteral("generatorRate"));
  const auto generatorRate = generatorText ? frameRateFromRaw(*generatorText) : std::nullopt;
  const auto generatorStart = json::text(o, QStringLiteral("generatorStart"));
  const auto timeOfDay = json::boolean(o, QStringLiteral("timeOfDay"));
  const Settings d;
  const auto artnetOutEnabled =
      withDefault(o, QStringLiteral("artnetOutEnabled"), d.artnetOutEnabled, json::boolean);
  const auto artnetOutAddress =
      withDefault(o, QStringLiteral("artnetOutAddress"), d.artnetOutAddress, json::text);
  const auto artnetOutPort = withDefault(o, QStringLiteral("artnetOutPort"), d.artnetOutPort, port);
  const auto artnetLeadMilliseconds =
      withDefault(o, QStringLiteral("artnetLeadMilliseconds"), d.artnetLeadMilliseconds, json::real);
  const auto artnetInAddress =
      withDefault(o, QStringLiteral("artnetInAddress"), d.artnetInAddress, json::text);
  const auto artnetInPort = withDefault(o, QStringLiteral("artnetInPort"), d.artnetInPort, port);

  if (!source || !ltcInputUID || !ltcInputChannel || !mtcInputName || !freewheel || !mtcOutEnabled ||
      !mtcOutName || !mtcLeadMilliseconds || !ltcOutEnabled || !ltcOutUID || !ltcOutChannel || !ltcOutPair ||
      !ltcOutLevel || !offsetFrames || !generatorRate || !generatorStart || !timeOfDay || !artnetOutEnabled ||
      !artnetOutAddress || !artnetOutPort || !artnetLeadMilliseconds || !artnetInAddress || !artnetInPort) {
    return std::nullopt;
  }
  return Settings{*source,
                  inputRate,
                  *ltcInputUID,
                  *ltcInputChannel,
                  *mtcInputName,
                  *freewheel,
                  *mtcOutEnabled,
                  *mtcOutName,
                  *mtcLeadMilliseconds,
                  *ltcOutEnabled,
                  *ltcOutUID,
                  *ltcOutChannel,
                  *ltcOutPair,
                  *ltcOutLevel,
                  *offsetFrames,
                  *generatorRate,
                  *generatorStart,
                  *timeOfDay,
                  *artnetOutEnabled,
                  *artnetOutAddress,
                  *artnetOutPort,
                  *artnetLeadMilliseconds,
                  *artnetInAddress,
                  *artnetInPort};
}

}  // namespace quillmark
