#include "app/settings.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

namespace quillmark {
namespace {

QJsonObject objectOf(const std::string& json) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::string jsonOf(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// The defaults written out by hand, as a first run must produce them.
const char* const kDefaultJSON = R"({"source":"LTC in","ltcInputChannel":0,"mtcInputName":"","freewheel":2,
  "mtcOutEnabled":false,"mtcOutName":"Virtual port","mtcLeadMilliseconds":0,"ltcOutEnabled":false,
  "ltcOutChannel":0,"ltcOutPair":false,"ltcOutLevel":-6,"offsetFrames":0,"generatorRate":"25",
  "generatorStart":"01:00:00:00","timeOfDay":false})";

TEST(Settings, DefaultRecordIsTheFirstRunStateAndWritesFifteenKeys) {
  const std::optional<std::string> encoded = Settings{}.toJSON();
  ASSERT_TRUE(encoded);
  const QJsonObject object = objectOf(*encoded);
  EXPECT_EQ(object.size(), 15);
  EXPECT_FALSE(object.contains("inputRate"));
  EXPECT_FALSE(object.contains("ltcInputUID"));
  EXPECT_FALSE(object.contains("ltcOutUID"));
  EXPECT_EQ(object, objectOf(kDefaultJSON));
  EXPECT_EQ(Settings::fromJSON(kDefaultJSON), Settings{});
}

TEST(Settings, EveryFieldSurvivesEncodingAndDecoding) {
  for (FrameRate rate : kAllFrameRates) {
    for (SourceKind source : kAllSourceKinds) {
      // Built in one expression: GCC 12 wrongly warns that assigning into a defaulted optional<string>
      // reads it uninitialised.
      const Settings s{.source = source,
                       .inputRate = rate,
                       .ltcInputUID = "system",
                       .ltcInputChannel = std::numeric_limits<std::int64_t>::max(),
                       .mtcInputName = "Ünïcødé \"quoted\" \\ 日本 😀",
                       .freewheel = 0.1,
                       .mtcOutEnabled = true,
                       .mtcOutName = "",
                       .mtcLeadMilliseconds = -12.345678901234567,
                       .ltcOutEnabled = true,
                       .ltcOutUID = "",
                       .ltcOutChannel = std::numeric_limits<std::int64_t>::min(),
                       .ltcOutPair = true,
                       .ltcOutLevel = -0.0001,
                       .offsetFrames = -9007199254740993,  // not representable as a double
                       .generatorRate = rate,
                       .generatorStart = "23:59:59:29",
                       .timeOfDay = true};
      const auto encoded = s.toJSON();
      ASSERT_TRUE(encoded);
      EXPECT_EQ(Settings::fromJSON(*encoded), s) << *encoded;
    }
  }
}

TEST(Settings, AnyBadRequiredValueGivesNoRecordAtAll) {
  Settings stored;
  stored.source = SourceKind::generator;
  stored.mtcOutEnabled = true;
  const QJsonObject good = objectOf(*stored.toJSON());
  ASSERT_TRUE(Settings::fromJSON(jsonOf(good)));

  for (const QString& key : good.keys()) {
    QJsonObject missing = good;
    missing.remove(key);
    EXPECT_FALSE(Settings::fromJSON(jsonOf(missing))) << "without " << key.toStdString();
    QJsonObject nulled = good;
    nulled.insert(key, QJsonValue::Null);
    EXPECT_FALSE(Settings::fromJSON(jsonOf(nulled))) << "null " << key.toStdString();
  }

  const std::pair<const char*, QJsonValue> wrong[] = {
      {"source", "Generator "},
      {"source", "ltc"},
      {"source", 1},
      {"generatorRate", "50"},
      {"generatorRate", 25},
      {"inputRate", "50"},
      {"inputRate", 25},
      {"inputRate", "29.97"},
      {"ltcInputUID", 3},
      {"ltcOutUID", false},
      {"ltcInputChannel", 2.5},
      {"ltcOutChannel", "2"},
      {"offsetFrames", 1e19},
      {"freewheel", "2"},
      {"ltcOutLevel", true},
      {"mtcOutEnabled", 1},
      {"timeOfDay", "false"},
      {"mtcInputName", QJsonValue::Null},
      {"generatorStart", 1000000},
      {"mtcOutName", QJsonObject{}},
  };
  for (const auto& [key, value] : wrong) {
    QJsonObject bad = good;
    bad.insert(key, value);
    EXPECT_FALSE(Settings::fromJSON(jsonOf(bad))) << key;
  }

  for (const char* text : {"", "not json", "[]", "null", "\"settings\"", "{\"source\":\"LTC in\"", "{}"}) {
    EXPECT_FALSE(Settings::fromJSON(text)) << text;
  }
}

TEST(Settings, OptionalFieldsMayBeNullAndUnknownKeysAreIgnored) {
  QJsonObject object = objectOf(kDefaultJSON);
  object.insert("inputRate", QJsonValue::Null);
  object.insert("ltcInputUID", QJsonValue::Null);
  object.insert("ltcOutUID", "usb-interface");
  object.insert("addedByANewerVersion", QJsonArray{1, 2});
  object.insert("ltcOutChannel", 3.0);  // an integral number written with a fraction
  object.insert("freewheel", 5);        // a real written as an integer
  const auto decoded = Settings::fromJSON(jsonOf(object));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->inputRate, std::nullopt);
  EXPECT_EQ(decoded->ltcInputUID, std::nullopt);
  EXPECT_EQ(decoded->ltcOutUID, "usb-interface");
  EXPECT_EQ(decoded->ltcOutChannel, 3);
  EXPECT_EQ(decoded->freewheel, 5.0);
}

TEST(Settings, RecordsWithNonFiniteRealsAreNotEncoded) {
  // Such a record would otherwise be written with null in place of the number and so fail to load.
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    Settings a, b, c;
    a.freewheel = bad;
    b.mtcLeadMilliseconds = -bad;
    c.ltcOutLevel = bad;
    EXPECT_FALSE(a.toJSON());
    EXPECT_FALSE(b.toJSON());
    EXPECT_FALSE(c.toJSON());
  }
}

}  // namespace
}  // namespace quillmark
