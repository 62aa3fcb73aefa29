#include "app/display_style.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace quillmark {
namespace {

QJsonObject objectOf(const std::string& json) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::string jsonOf(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

TEST(DisplayStyle, DefaultIsTheFirstOfSixDistinctPresets) {
  const auto& presets = DisplayStyle::presets();
  const char* const names[] = {"Amber LED",      "Red LED",   "Green LED",
                               "White on black", "Broadcast", "Black on white"};
  for (std::size_t i = 0; i < presets.size(); ++i) {
    EXPECT_EQ(presets[i].name, names[i]);
    EXPECT_EQ(DisplayStyle::preset(names[i]), presets[i].style);
    EXPECT_FALSE(presets[i].style.alwaysOnTop) << names[i];
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(presets[i].style, presets[j].style) << names[i];
  }
  EXPECT_EQ(DisplayStyle{}, presets[0].style);
  EXPECT_FALSE(DisplayStyle::preset("White on black")->ghostSegments);
  EXPECT_EQ(DisplayStyle::preset("amber led"), std::nullopt);
}

TEST(DisplayStyle, ChoosingAPresetKeepsTheWindowLevel) {
  DisplayStyle current = *DisplayStyle::preset("Green LED");
  current.alwaysOnTop = true;
  const auto broadcast = current.choosingPreset("Broadcast");
  ASSERT_TRUE(broadcast);
  EXPECT_TRUE(broadcast->alwaysOnTop);
  DisplayStyle expected = *DisplayStyle::preset("Broadcast");
  expected.alwaysOnTop = true;
  EXPECT_EQ(*broadcast, expected);
  EXPECT_EQ(current.choosingPreset("Choose…"), std::nullopt);
}

TEST(DisplayStyle, EveryTypefaceAndWeightSurvivesEncodingAndDecoding) {
  for (Typeface typeface : kAllTypefaces) {
    for (Weight weight : kAllWeights) {
      DisplayStyle style{
          typeface, weight, {0.1, 0.2, 0.30000000000000004, 0.5}, {0, 1, 1e-9, 0}, false, true, false, true,
          false,    true};
      const auto encoded = style.toJSON();
      ASSERT_TRUE(encoded);
      EXPECT_EQ(objectOf(*encoded).size(), 10);
      EXPECT_EQ(DisplayStyle::fromJSON(*encoded), style) << *encoded;
    }
  }
  DisplayStyle broken;
  broken.background.alpha = std::nan("");
  EXPECT_FALSE(broken.toJSON());
}

TEST(DisplayStyle, AnyMissingOrUnknownValueGivesNoStyleButUnknownKeysAreIgnored) {
  QJsonObject good = objectOf(*DisplayStyle{}.toJSON());
  good.insert("fontSize", 72);
  ASSERT_EQ(DisplayStyle::fromJSON(jsonOf(good)), DisplayStyle{});

  for (const QString& key : good.keys()) {
    if (key == "fontSize") continue;
    QJsonObject missing = good;
    missing.remove(key);
    EXPECT_FALSE(DisplayStyle::fromJSON(jsonOf(missing))) << key.toStdString();
  }
  const std::pair<const char*, QJsonValue> wrong[] = {
      {"typeface", "Comic Sans"}, {"typeface", "led segments"},
      {"weight", "Thin"},         {"weight", 600},
      {"showFrames", 1},          {"alwaysOnTop", "true"},
      {"text", "#ff8c1a"},        {"background", QJsonValue::Null},
  };
  for (const auto& [key, value] : wrong) {
    QJsonObject bad = good;
    bad.insert(key, value);
    EXPECT_FALSE(DisplayStyle::fromJSON(jsonOf(bad))) << key;
  }
  QJsonObject noAlpha = good;
  noAlpha.insert("text", QJsonObject{{"red", 1}, {"green", 0.5}, {"blue", 0}});
  EXPECT_FALSE(DisplayStyle::fromJSON(jsonOf(noAlpha)));
  QJsonObject textAlpha = good;
  textAlpha.insert("text", QJsonObject{{"red", 1}, {"green", 0.5}, {"blue", 0}, {"alpha", "1"}});
  EXPECT_FALSE(DisplayStyle::fromJSON(jsonOf(textAlpha)));
}

}  // namespace
}  // namespace quillmark
