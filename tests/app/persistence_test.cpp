#include "app/persistence.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QSettings>
#include <QTemporaryDir>
#include <cmath>

namespace quillmark {
namespace {

// Each test gets a fresh user store a few folders down a temporary directory (never the user's real
// settings), so that a key that escaped into a path would show up as a stray file under root_.
class PersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid() && QDir().mkpath(root_.filePath("home/config")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root_.filePath("home/config"));
  }
  QString storeFile() const { return root_.filePath("home/config/quillmark/quillmark.conf"); }
  QSettings raw() const { return QSettings(storeFile(), QSettings::NativeFormat); }
  QStringList filesUnderRoot() const {
    QStringList files;
    for (QDirIterator it(root_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
      files << it.next();
    return files;
  }

  QTemporaryDir root_;
};

TEST_F(PersistenceTest, RecordsSurviveARestartAsBlobsUnderTheProfileKeysAndHandEditedTextIsRead) {
  EXPECT_EQ(Persistence(std::nullopt).loadSettings(), Settings{});
  EXPECT_TRUE(filesUnderRoot().empty());  // a first run writes nothing
  Settings settings;
  settings.source = SourceKind::mtc;
  const DisplayStyle style = DisplayStyle::preset("Broadcast").value();
  ASSERT_TRUE(Persistence(std::string("studio")).saveSettings(settings));
  ASSERT_TRUE(Persistence(std::string("studio")).saveDisplayStyle(style));
  EXPECT_EQ(raw().value("settings-studio").typeId(), QMetaType::QByteArray);
  Persistence again(std::string("studio"));
  EXPECT_EQ(again.loadSettings(), settings);
  EXPECT_EQ(again.loadDisplayStyle(), style);

  settings.freewheel = 10;
  raw().setValue("settings", QString::fromStdString(settings.toJSON().value()));  // text, not a blob
  EXPECT_EQ(Persistence(std::nullopt).loadSettings(), settings);
  settings.ltcOutLevel = std::nan("");  // unencodable: nothing is written
  EXPECT_FALSE(Persistence(std::nullopt).saveSettings(settings));
  EXPECT_EQ(Persistence(std::nullopt).loadSettings().freewheel, 10);
}

TEST_F(PersistenceTest, UnreadableRecordsLoadAsDefaultsAndAreKeptAsideWhenFirstReplaced) {
  const QByteArray badSettings = R"({"source":"NDI in"})", badStyle = R"({"typeface":"Helvetica"})";
  raw().setValue("settings", badSettings);
  raw().setValue("display", badStyle);
  Persistence persistence(std::nullopt);
  EXPECT_EQ(persistence.loadSettings(), Settings{});
  EXPECT_EQ(persistence.loadDisplayStyle(), DisplayStyle{});
  Settings first;
  first.ltcInputUID.emplace("system");
  ASSERT_TRUE(persistence.saveSettings(first) && persistence.saveDisplayStyle(DisplayStyle{}));
  EXPECT_EQ(raw().value("settings/unreadable").toByteArray(), badSettings);
  EXPECT_EQ(raw().value("display/unreadable").toByteArray(), badStyle);

  // Later saves leave the kept copy alone; a readable record is never kept aside.
  raw().setValue("settings/unreadable", "older");
  ASSERT_TRUE(persistence.saveSettings(Settings{}));
  EXPECT_EQ(raw().value("settings/unreadable"), "older");
  raw().remove("settings/unreadable");
  Persistence next(std::nullopt);
  EXPECT_EQ(next.loadSettings(), Settings{});
  ASSERT_TRUE(next.saveSettings(first));
  EXPECT_FALSE(raw().contains("settings/unreadable"));
}

TEST_F(PersistenceTest, AnyProfileTextReadsAndWritesOnlyItsOwnTwoKeysInsideTheStore) {
  // Separators, escapes and their encoded forms, INI syntax, a group name, control and invalid UTF-8 bytes,
  // and names that look like the kept-aside key.
  const std::vector<std::optional<std::string>> profiles = {
      std::nullopt, "",       "a/b",         "/a",          "a\\b",     "..", "../../../evil",
      "Ä Studio",   "日本語", "%2F",         "General",     "=;#[x]\"", "\n", std::string("nul\0byte", 8),
      "\xff\xfe",   "\xc3",   "-unreadable", "a/unreadable"};
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    Settings settings;
    settings.offsetFrames = static_cast<std::int64_t>(i);
    DisplayStyle style;
    style.text.red = static_cast<double>(i);
    Persistence persistence(profiles[i]);
    ASSERT_TRUE(persistence.saveSettings(settings) && persistence.saveDisplayStyle(style));
  }
  for (std::size_t i = 0; i < profiles.size(); ++i) {  // each reads back exactly its own
    Persistence persistence(profiles[i]);
    EXPECT_EQ(persistence.loadSettings().offsetFrames, static_cast<std::int64_t>(i)) << i;
    EXPECT_EQ(persistence.loadDisplayStyle().text.red, static_cast<double>(i)) << i;
  }
  EXPECT_EQ(raw().allKeys().size(), static_cast<qsizetype>(2 * profiles.size()));
  EXPECT_TRUE(raw().childGroups().isEmpty());
  EXPECT_EQ(filesUnderRoot(), QStringList{storeFile()});
  EXPECT_TRUE(raw().contains("settings-..") && raw().contains("display-Ä Studio"));  // words stay literal
}

}  // namespace
}  // namespace quillmark
