// `quillmark --headless` run as a process: its output, its profile and its clean end on a signal. The end
// on SIGTERM, and the recovery from a server killed under it, are the fault tests'.

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include "app/persistence.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

// Collects standard output into `output` until it holds `text` from `from` on, with a deadline.
bool waitForOutput(QProcess& process, QString& output, const QString& text, qsizetype from = 0) {
  return test::waitFor(
      [&] {
        process.waitForReadyRead(20);
        output += QString::fromUtf8(process.readAllStandardOutput());
        return output.indexOf(text, from) >= 0;
      },
      15.0);
}

// Started while its server is down, it says why with a time on every line and keeps trying, without
// libjack's noise, until the server is there. Art-Net says on its own lines why it cannot listen or send
// (to addresses that do not exist, so nothing is sent anywhere). SIGINT ends it cleanly with its settings
// saved under its profile.
TEST(Headless, StartsWithoutAServerUntilOneIsThereSaysWhyArtNetCannotRunAndEndsOnSIGINT) {
  static int argc = 1;
  static char name[] = "headless_tests";
  static char* argv[] = {name, nullptr};
  const QCoreApplication app(argc, argv);
  const QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string storeFile = dir.filePath("quillmark/quillmark.conf").toStdString();
  Settings artnet;
  artnet.source = SourceKind::artnet;
  artnet.artnetInAddress = "127.0.0.256";
  artnet.artnetOutEnabled = true;
  artnet.artnetOutAddress = "127.0.0.256";
  ASSERT_TRUE(Persistence(std::string("Studio A/2"), storeFile).saveSettings(artnet));
  auto server = test::JackServer::start();
  server->stop();

  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", dir.path());
  env.insert("JACK_DEFAULT_SERVER", QString::fromStdString(server->name()));
  env.insert("JACK_NO_START_SERVER", "1");
  process.setProcessEnvironment(env);
  process.start(QM_QUILLMARK, {"--headless", "--profile", "Studio A/2"});
  QString output;
  ASSERT_TRUE(waitForOutput(process, output, "No JACK server reachable")) << output.toStdString();
  const QRegularExpression timed(
      R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  No JACK server reachable: trying again )"
      R"(every 2 seconds$)",
      QRegularExpression::MultilineOption);
  EXPECT_TRUE(timed.match(output).hasMatch()) << output.toStdString();
  EXPECT_TRUE(output.contains("Quillmark headless, profile \"Studio A/2\""));
  EXPECT_TRUE(output.contains("Source: Art-Net in"));
  // Art-Net needs no JACK server: it says at once why it cannot run.
  ASSERT_TRUE(waitForOutput(process, output, "Art-Net in: Cannot listen for Art-Net on 127.0.0.256:6454"))
      << output.toStdString();
  ASSERT_TRUE(waitForOutput(process, output, "Art-Net out: Cannot send Art-Net to 127.0.0.256"))
      << output.toStdString();

  const qsizetype lost = output.size();
  server->restart();
  ASSERT_TRUE(waitForOutput(process, output, "JACK server started", lost)) << output.toStdString();

  ::kill(static_cast<pid_t>(process.processId()), SIGINT);
  ASSERT_TRUE(process.waitForFinished(15000)) << "SIGINT did not end it";
  EXPECT_TRUE(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
      << "SIGINT did not end it cleanly: exit code " << process.exitCode();
  output += QString::fromUtf8(process.readAllStandardOutput());
  EXPECT_TRUE(output.contains("Outputs stopped, settings saved")) << output.toStdString();
  // It never listened: the returning server brings no "ok" and no second report of the same error.
  EXPECT_FALSE(output.contains("Art-Net in: ok")) << output.toStdString();
  EXPECT_EQ(output.count("Art-Net in: Cannot listen"), 1) << output.toStdString();
  EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()), "") << "no JACK noise while it retries";
  EXPECT_EQ(QSettings(QString::fromStdString(storeFile), QSettings::NativeFormat).allKeys(),
            QStringList{QString::fromStdString(Persistence::storeKey("settings-Studio A/2"))});
  const Settings saved = Persistence(std::string("Studio A/2"), storeFile).loadSettings();
  EXPECT_EQ(saved.source, SourceKind::artnet);
  EXPECT_EQ(saved.artnetOutAddress, "127.0.0.256");
  EXPECT_EQ(saved.ltcInputUID, std::optional<std::string>("system"));
}

}  // namespace
}  // namespace quillmark
