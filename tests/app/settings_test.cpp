#include "app/settings.h"

#include <gtest/gtest.h>

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

// The first-run record written out by hand, as it was before the Art-Net fields: such a record still reads
// as the first-run state.
const char* const kDefaultJSON = R"({"source":"LTC in","ltcInputChannel":0,"mtcInputName":"","freewheel":2,
  "mtcOutEnabled":false,"mtcOutName":"Virtual port","mtcLeadMilliseconds":0,"ltcOutEnabled":false,
  "ltcOutChannel":0,"ltcOutPair":false,"ltcOutLevel":-6,"offsetFrames":0,"generatorRate":"25",
  "generatorStart":"01:00:00:00","timeOfDay":false})";
const char* const kArtNetDefaultJSON = R"({"artnetOutEnabled":false,"artnetOutAddress":"255.255.255.255",
  "artnetOutPort":6454,"artnetLeadMilliseconds":0,"artnetInAddress":"0.0.0.0","artnetInPort":6454})";

TEST(Settings, DefaultRecordIsTheFirstRunStateAndOptionalsAndUnknownKeysMayBeLeftOutOrNull) {
  const QJsonObject encoded = objectOf(Settings{}.toJSON().value());
  QJsonObject expected = objectOf(kDefaultJSON);
  const QJsonObject artnet = objectOf(kArtNetDefaultJSON);
  for (const QString& key : artnet.keys()) expected.insert(key, artnet.value(key));
  EXPECT_EQ(encoded, expected);
  EXPECT_EQ(Settings::fromJSON(jsonOf(expected)), Settings{});
  EXPECT_EQ(Settings::fromJSON(kDefaultJSON), Settings{});  // an older record: the Art-Net defaults

  // Optionals may be null, unknown keys are ignored, and numbers are read whichever way they are written.
  QJsonObject object = objectOf(kDefaultJSON);
  object.insert("inputRate", QJsonValue::Null);
  object.insert("ltcOutUID", "usb");
  object.insert("addedByANewerVersion", true);
  object.insert("ltcOutChannel", 3.0);  // integral, written with a fraction
  object.insert("freewheel", 5);        // a real written as an integer
  Settings read;
  read.ltcOutUID.emplace("usb");
  read.ltcOutChannel = 3;
  read.freewheel = 5;
  EXPECT_EQ(Settings::fromJSON(jsonOf(object)), read);
}

TEST(Settings, EveryFieldSurvivesEncodingButNonFiniteRealsAreNotEncoded) {
  for (FrameRate rate : kAllFrameRates) {
    // One expression: GCC 12 wrongly warns about assigning into a defaulted optional<string>. The offset
    // is no double, the text no plain ASCII.
    const Settings s(SourceKind::mtc, rate, "system", INT64_MAX, "Ünï \"q\" \\ 😀", 0.1, true, "",
                     -12.3456789012345, true, "", INT64_MIN, true, -0.0001, -9007199254740993, rate,
                     "23:59:59:29", true, true, "10.0.0.255", 65535, -2.5, "127.0.0.1", 0);
    EXPECT_EQ(Settings::fromJSON(s.toJSON().value()), s) << *s.toJSON();
  }
  // Non-finite reals would be written as null and fail to load.
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const std::pair<const char*, double Settings::*> reals[] = {
      {"freewheel", &Settings::freewheel},
      {"mtcLeadMilliseconds", &Settings::mtcLeadMilliseconds},
      {"ltcOutLevel", &Settings::ltcOutLevel},
      {"artnetLeadMilliseconds", &Settings::artnetLeadMilliseconds}};
  for (const auto& [name, real] : reals) {
    for (double value : {std::nan(""), kInfinity, -kInfinity}) {
      Settings bad;
      bad.*real = value;
      EXPECT_FALSE(bad.toJSON()) << name << " = " << value;
    }
  }
}

TEST(Settings, AnyBadRequiredValueGivesNoRecordAtAll) {
  const QJsonObject good = objectOf(kDefaultJSON);
  for (const QString& key : good.keys()) {
    QJsonObject missing = good, nulled = good;
    missing.remove(key);
    nulled.insert(key, QJsonValue::Null);
    EXPECT_FALSE(Settings::fromJSON(jsonOf(missing))) << "without " << key.toStdString();
    EXPECT_FALSE(Settings::fromJSON(jsonOf(nulled))) << "null " << key.toStdString();
  }
  const std::pair<const char*, QJsonValue> wrong[] = {
      {"source", "ltc"},
      {"generatorRate", "50"},
      {"inputRate", "50"},
      {"inputRate", 25},
      {"ltcInputUID", 3},
      {"ltcInputChannel", 2.5},
      {"offsetFrames", 1e19},
      {"ltcOutChannel", "2"},
      {"freewheel", "2"},
      {"mtcOutEnabled", 1},
      {"generatorStart", 1000000},
      {"mtcOutName", QJsonObject{}},
      // Art-Net fields may be missing, but what is there must read: a null is no port, 65536 no port.
      {"artnetOutPort", 65536},
      {"artnetInPort", -1},
      {"artnetInPort", QJsonValue::Null},
      {"artnetOutAddress", 1},
      {"artnetOutEnabled", "1"},
      {"artnetLeadMilliseconds", "0"}};
  for (const auto& [key, value] : wrong) {
    QJsonObject bad = good;
    bad.insert(key, value);
    EXPECT_FALSE(Settings::fromJSON(jsonOf(bad))) << key;
  }
  for (const char* text : {"", "not json", "[]", "null", "{\"source\":\"LTC in\""}) {
    EXPECT_FALSE(Settings::fromJSON(text)) << text;
  }
}

}  // namespace
}  // namespace quillmark
