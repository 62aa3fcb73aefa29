#include "app/profile.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

namespace quillmark {
namespace {

std::optional<std::string> profileOf(std::vector<std::string> arguments) {
  return profileFromArguments(arguments);
}

TEST(Profile, IsTheArgumentAfterTheFirstExactProfileFlag) {
  EXPECT_EQ(profileOf({"quillmark"}), std::nullopt);
  EXPECT_EQ(profileOf({"quillmark", "--profile", "stage"}), "stage");
  EXPECT_EQ(profileOf({"quillmark", "--profile"}), std::nullopt);
  EXPECT_EQ(profileOf({"quillmark", "--profile", ""}), "");
  EXPECT_EQ(profileOf({"quillmark", "--profile", "--profile", "b"}), "--profile");
  EXPECT_EQ(profileOf({"quillmark", "--profile=x", "-profile", "y", "--Profile", "z"}), std::nullopt);
  EXPECT_EQ(profileOf({"--profile", "program-path"}), "program-path");
}

// The probe's output, or no value when it failed or did not finish in time.
std::optional<std::string> runProbe(const QString& configDir, const QStringList& arguments) {
  QProcess probe;
  probe.start(QStringLiteral(QM_SETTINGS_PROBE), QStringList{configDir} + arguments);
  if (!probe.waitForFinished(20000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
    probe.kill();
    probe.waitForFinished(5000);
    return std::nullopt;
  }
  return probe.readAllStandardOutput().trimmed().toStdString();
}

TEST(Profile, ProcessesWithDifferentProfilesKeepSeparateRecords) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  const QString dir = config.path();
  ASSERT_TRUE(runProbe(dir, {"write", "one", "--profile", "stage"}));
  ASSERT_TRUE(runProbe(dir, {"write", "two", "--profile", "../stage"}));
  ASSERT_TRUE(runProbe(dir, {"write", "empty", "--profile", ""}));
  ASSERT_TRUE(runProbe(dir, {"write", "none"}));
  EXPECT_EQ(runProbe(dir, {"read", "--profile", "stage"}), "one|1");
  EXPECT_EQ(runProbe(dir, {"read", "--profile", "../stage"}), "two|1");
  EXPECT_EQ(runProbe(dir, {"read", "--profile", ""}), "empty|1");
  EXPECT_EQ(runProbe(dir, {"read", "--profile"}), "none|1");  // a trailing flag names no profile
  EXPECT_EQ(runProbe(dir, {"read", "--profile", "other"}), "|0");
}

}  // namespace
}  // namespace quillmark
