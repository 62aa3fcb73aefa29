#include "app/persistence.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <cmath>
#include <vector>

namespace quillmark {
namespace {

// Every test gets a fresh user store inside its own temporary directory; the user's real settings are
// never opened. The store sits a few folders down so that a key that escaped into a path would show up as
// a stray file inside root_.
class PersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    configDir_ = root_.filePath("home/user/config");
    ASSERT_TRUE(QDir().mkpath(configDir_));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir_);
  }

  QString storeFile() const { return configDir_ + "/quillmark/quillmark.conf"; }

  // The user store as QSettings sees it, for looking behind Persistence.
  std::unique_ptr<QSettings> raw() const {
    return std::make_unique<QSettings>(storeFile(), QSettings::NativeFormat);
  }

  QStringList filesUnderRoot() const {
    QStringList files;
    QDirIterator it(root_.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    return files;
  }

  QTemporaryDir root_;
  QString configDir_;
};

TEST_F(PersistenceTest, FirstRunLoadsDefaultsAndWritesNothing) {
  Persistence persistence(std::nullopt);
  EXPECT_EQ(persistence.loadSettings(), Settings{});
  EXPECT_EQ(persistence.loadDisplayStyle(), DisplayStyle{});
  EXPECT_TRUE(filesUnderRoot().isEmpty());
}

TEST_F(PersistenceTest, RecordsSurviveARestartAsBlobsUnderTheProfileKeys) {
  Settings settings;
  settings.source = SourceKind::mtc;
  settings.mtcInputName = "Virtual port";
  const DisplayStyle style = *DisplayStyle::preset("Broadcast");
  {
    Persistence persistence(std::string("studio"));
    ASSERT_TRUE(persistence.saveSettings(settings));
    ASSERT_TRUE(persistence.saveDisplayStyle(style));
  }
  const auto stored = raw();
  EXPECT_EQ(stored->allKeys().join(", ").toStdString(), "display-studio, settings-studio");
  const QVariant blob = stored->value("settings-studio");
  EXPECT_EQ(blob.typeId(), QMetaType::QByteArray);
  EXPECT_EQ(Settings::fromJSON(blob.toByteArray().toStdString()), settings);

  Persistence again(std::string("studio"));
  EXPECT_EQ(again.loadSettings(), settings);
  EXPECT_EQ(again.loadDisplayStyle(), style);
  Persistence noProfile(std::nullopt);
  EXPECT_EQ(noProfile.loadSettings(), Settings{});
  EXPECT_EQ(noProfile.loadDisplayStyle(), DisplayStyle{});
}

TEST_F(PersistenceTest, UnreadableRecordsLoadAsDefaultsAndAreKeptAsideWhenFirstReplaced) {
  // A record that lacks one required key, and a style written by a version with another typeface.
  QJsonObject partial = QJsonDocument::fromJson(QByteArray::fromStdString(*Settings{}.toJSON())).object();
  partial.remove("timeOfDay");
  partial.insert("mtcInputName", "kept by the user");
  const QByteArray badSettings = QJsonDocument(partial).toJson();
  const QByteArray badStyle = R"({"typeface":"Helvetica"})";
  raw()->setValue("settings", badSettings);
  raw()->setValue("display", badStyle);

  Persistence persistence(std::nullopt);
  EXPECT_EQ(persistence.loadSettings(), Settings{});
  EXPECT_EQ(persistence.loadDisplayStyle(), DisplayStyle{});
  EXPECT_EQ(raw()->value("settings").toByteArray(), badSettings);  // loading changes nothing
  EXPECT_FALSE(raw()->contains("settings/unreadable"));

  Settings first;
  first.ltcInputUID = "system";
  ASSERT_TRUE(persistence.saveSettings(first));
  ASSERT_TRUE(persistence.saveDisplayStyle(DisplayStyle{}));
  EXPECT_EQ(raw()->value("settings/unreadable").toByteArray(), badSettings);
  EXPECT_EQ(raw()->value("display/unreadable").toByteArray(), badStyle);

  // Later saves leave the kept copy alone, and a readable record is never kept aside.
  Settings second = first;
  second.offsetFrames = 2;
  ASSERT_TRUE(persistence.saveSettings(second));
  EXPECT_EQ(raw()->value("settings/unreadable").toByteArray(), badSettings);
  raw()->remove("settings/unreadable");
  Persistence next(std::nullopt);
  EXPECT_EQ(next.loadSettings(), second);
  ASSERT_TRUE(next.saveSettings(first));
  EXPECT_FALSE(raw()->contains("settings/unreadable"));
}

TEST_F(PersistenceTest, HandEditedTextValuesAreReadAndUnencodableRecordsWriteNothing) {
  Settings edited;
  edited.freewheel = 10;
  raw()->setValue("settings", QString::fromStdString(*edited.toJSON()));  // text, not a blob
  Persistence persistence(std::nullopt);
  EXPECT_EQ(persistence.loadSettings(), edited);

  Settings broken = edited;
  broken.ltcOutLevel = -std::numeric_limits<double>::infinity();
  EXPECT_FALSE(persistence.saveSettings(broken));
  EXPECT_EQ(Persistence(std::nullopt).loadSettings(), edited);
}

TEST_F(PersistenceTest, AnyProfileTextReadsAndWritesOnlyItsOwnTwoKeysInsideTheStore) {
  const std::vector<std::optional<std::string>> profiles = {std::nullopt,
                                                            "",
                                                            "a",
                                                            "a/",
                                                            "/a",
                                                            "a//b",
                                                            "a/b",
                                                            "a\\b",
                                                            "..",
                                                            "../../../../evil",
                                                            "./x",
                                                            "~",
                                                            "with space",
                                                            " ",
                                                            "Ä Studio",
                                                            "日本語",
                                                            "😀",
                                                            "%2F",
                                                            "a%2Fb",
                                                            "%",
                                                            "General",
                                                            "=;#[x]\"",
                                                            "\n",
                                                            std::string("nul\0byte", 8),
                                                            "\xff\xfe",
                                                            "\xc3",
                                                            "\xed\xa0\x80",
                                                            "-unreadable",
                                                            "a/unreadable",
                                                            "x-unreadable"};
  // Each profile writes a marker of its own; then each must read back exactly its own.
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    Persistence persistence(profiles[i]);
    Settings settings;
    settings.offsetFrames = static_cast<std::int64_t>(i) + 1;
    DisplayStyle style;
    style.text.red = static_cast<double>(i) / 100.0;
    ASSERT_TRUE(persistence.saveSettings(settings));
    ASSERT_TRUE(persistence.saveDisplayStyle(style));
  }
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    Persistence persistence(profiles[i]);
    const std::string name = profiles[i] ? "\"" + *profiles[i] + "\"" : "no profile";
    EXPECT_EQ(persistence.loadSettings().offsetFrames, static_cast<std::int64_t>(i) + 1) << name;
    EXPECT_EQ(persistence.loadDisplayStyle().text.red, static_cast<double>(i) / 100.0) << name;
  }
  EXPECT_EQ(raw()->allKeys().size(), static_cast<qsizetype>(2 * profiles.size()));
  EXPECT_EQ(raw()->childGroups().join(", ").toStdString(), "");
  EXPECT_EQ(filesUnderRoot().join(", ").toStdString(), storeFile().toStdString());

  // Plain words are stored under their literal keys.
  EXPECT_TRUE(raw()->contains("settings-a"));
  EXPECT_TRUE(raw()->contains("display-with space"));
  EXPECT_TRUE(raw()->contains("settings-Ä Studio"));
}

}  // namespace
}  // namespace quillmark
