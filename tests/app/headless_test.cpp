// `quillmark --headless` run as a process: its output, its profile and its clean end on a signal.

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "app/persistence.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

class HeadlessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "headless_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // Starts the executable with its settings under the temporary directory and JACK clients directed at
  // `server`.
  std::unique_ptr<QProcess> launch(const QString& profile, const QString& server) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir_.path());
    env.insert("JACK_DEFAULT_SERVER", server);
    env.insert("JACK_NO_START_SERVER", "1");
    process->setProcessEnvironment(env);
    process->start(QM_QUILLMARK, {"--headless", "--profile", profile});
    return process;
  }
  // Collects standard output into `output` until it holds `text`, with a deadline.
  static bool waitForOutput(QProcess& process, QString& output, const QString& text) {
    return test::waitFor(
        [&] {
          process.waitForReadyRead(20);
          return (output += QString::fromUtf8(process.readAllStandardOutput())).contains(text);
        },
        15.0);
  }
  static bool endsCleanly(QProcess& process, int signal) {
    ::kill(static_cast<pid_t>(process.processId()), signal);
    return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
  }
  QString storeFile() const { return dir_.filePath("quillmark/quillmark.conf"); }
  Settings stored(const std::string& profile) const {
    return Persistence(profile, storeFile().toStdString()).loadSettings();
  }

  QTemporaryDir dir_;
};

TEST_F(HeadlessTest, WithoutAServerItSaysWhyKeepsRunningAndEndsCleanlyOnSIGTERM) {
  auto process = launch("Studio A/2", "quillmark-no-such-server");
  QString output;
  ASSERT_TRUE(waitForOutput(*process, output, "No JACK server reachable")) << output.toStdString();
  const QRegularExpression timed(
      R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  No JACK server reachable: trying again )"
      R"(every 2 seconds$)",
      QRegularExpression::MultilineOption);
  EXPECT_TRUE(timed.match(output).hasMatch()) << output.toStdString();
  EXPECT_TRUE(output.contains("Quillmark headless, profile \"Studio A/2\""));
  ASSERT_TRUE(waitForOutput(*process, output, "LTC input: No audio input found."));

  // Still alive well after several retries.
  EXPECT_FALSE(process->waitForFinished(2500));
  ASSERT_TRUE(endsCleanly(*process, SIGTERM)) << process->exitCode();
  output += QString::fromUtf8(process->readAllStandardOutput());
  EXPECT_TRUE(output.contains("Outputs stopped, settings saved"));
  EXPECT_EQ(QString::fromUtf8(process->readAllStandardError()), "") << "no JACK noise while it retries";
  const QStringList keys = QSettings(storeFile(), QSettings::NativeFormat).allKeys();
  EXPECT_EQ(keys, QStringList{QString::fromStdString(Persistence::storeKey("settings-Studio A/2"))});
}

// Two profiles side by side, each with its own settings, are proven in one process by the store's tests.
TEST_F(HeadlessTest, ArtNetThatCannotRunSaysWhyOnItsOwnLinesAndEndsOnSIGINT) {
  auto server = test::JackServer::start();
  // A listens for Art-Net and sends it, to addresses that do not exist (so nothing is sent anywhere): it
  // says why on the Art-Net lines and keeps running.
  Settings artnet;
  artnet.source = SourceKind::artnet;
  artnet.artnetInAddress = "127.0.0.256";
  artnet.artnetOutEnabled = true;
  artnet.artnetOutAddress = "127.0.0.256";
  ASSERT_TRUE(Persistence(std::string("A"), storeFile().toStdString()).saveSettings(artnet));

  auto a = launch("A", QString::fromStdString(server->name()));
  QString outA;
  ASSERT_TRUE(waitForOutput(*a, outA, "Source: Art-Net in")) << outA.toStdString();
  ASSERT_TRUE(waitForOutput(*a, outA, "Art-Net in: Cannot listen for Art-Net on 127.0.0.256:6454"))
      << outA.toStdString();
  ASSERT_TRUE(waitForOutput(*a, outA, "Art-Net out: ")) << outA.toStdString();
  EXPECT_TRUE(outA.contains("127.0.0.256")) << outA.toStdString();

  ASSERT_TRUE(endsCleanly(*a, SIGINT));
  EXPECT_EQ(stored("A").source, SourceKind::artnet);
  EXPECT_EQ(stored("A").artnetOutAddress, "127.0.0.256");
  EXPECT_EQ(stored("A").ltcInputUID, std::optional<std::string>("system"));
}

}  // namespace
}  // namespace quillmark
