#include "app/display_style.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace quillmark {
namespace {

TEST(DisplayStyle, DefaultIsAmberLEDAPresetKeepsTheWindowLevelAndEveryValueSurvivesEncoding) {
  EXPECT_EQ(DisplayStyle{}, DisplayStyle::preset("Amber LED"));
  DisplayStyle current;
  current.alwaysOnTop = true;
  DisplayStyle broadcast = DisplayStyle::preset("Broadcast").value();
  broadcast.alwaysOnTop = true;
  EXPECT_EQ(current.choosingPreset("Broadcast"), broadcast);
  EXPECT_EQ(current.choosingPreset("Choose…"), std::nullopt);

  // Every value is encoded; any incomplete or unknown one is refused.
  for (Typeface typeface : kAllTypefaces) {
    for (Weight weight : kAllWeights) {
      const DisplayStyle style{
          typeface, weight, {0.1, 0.2, 0.3, 0.5}, {0, 1, 1e-9, 0}, false, true, false, true, false, true};
      EXPECT_EQ(DisplayStyle::fromJSON(style.toJSON().value()), style);
    }
  }
  DisplayStyle notANumber;
  notANumber.text.alpha = std::nan("");
  EXPECT_FALSE(notANumber.toJSON());

  const auto decodes = [](QJsonObject o) {
    return DisplayStyle::fromJSON(QJsonDocument(o).toJson().toStdString());
  };
  QJsonObject good = QJsonDocument::fromJson(QByteArray::fromStdString(*DisplayStyle{}.toJSON())).object();
  for (const QString& key : good.keys()) {
    QJsonObject missing = good;
    missing.remove(key);
    EXPECT_FALSE(decodes(missing)) << key.toStdString();
  }
  good.insert("fontSize", 72);  // unknown keys are ignored
  EXPECT_EQ(decodes(good), DisplayStyle{});
  const std::pair<const char*, QJsonValue> wrong[] = {
      {"typeface", "led segments"},
      {"weight", "Thin"},
      {"showFrames", 1},
      {"text", "#ff8c1a"},
      {"background", QJsonValue::Null},
      {"text", QJsonObject{{"red", 1}, {"green", 0.5}, {"blue", 0}}}};
  for (const auto& [key, value] : wrong) {
    QJsonObject bad = good;
    bad.insert(key, value);
    EXPECT_FALSE(decodes(bad)) << key;
  }
}

}  // namespace
}  // namespace quillmark
