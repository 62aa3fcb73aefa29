// `quillmark --headless` run as a process: its output, its profile and its clean end on a signal. The end
// on SIGTERM, and the recovery from a server killed under it, are the fault tests'.

#include <gtest/gtest.h>
#include <signal.h>

#include <QSettings>
#include <QTemporaryDir>

#include "app/persistence.h"
#include "tests/app/store_world.h"
#include "tests/faults/child.h"
#include "tests/support/jack_server.h"

namespace quillmark {
namespace {

// Started while its server is down, it says why with a time on every line and keeps trying, without
// libjack's noise, until the server is there. Art-Net says on its own lines why it cannot listen or send
// (to addresses that do not exist, so nothing is sent anywhere). SIGINT ends it cleanly with its settings
// saved under its profile.
TEST(Headless, StartsWithoutAServerUntilOneIsThereSaysWhyArtNetCannotRunAndEndsOnSIGINT) {
  test::ensureCoreApplication();
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

  test::Child quillmark(QM_QUILLMARK, dir.path(), {"--profile", "Studio A/2"});
  ASSERT_TRUE(quillmark.waitForText("No JACK server reachable: trying again every 2 seconds\n", 15.0))
      << quillmark.output();
  EXPECT_NE(quillmark.output().find("Quillmark headless, profile \"Studio A/2\""), std::string::npos);
  // Art-Net needs no JACK server: it says at once why it cannot run.
  ASSERT_TRUE(quillmark.waitForText("Art-Net in: Cannot listen for Art-Net on 127.0.0.256:6454", 15.0))
      << quillmark.output();
  ASSERT_TRUE(quillmark.waitForText("Art-Net out: Cannot send Art-Net to 127.0.0.256", 15.0))
      << quillmark.output();

  const std::size_t lost = quillmark.output().size();
  server->restart();
  ASSERT_TRUE(quillmark.waitForText("JACK server started", 15.0, lost)) << quillmark.output();

  // A time on every line, and none of libjack's noise while it retried.
  EXPECT_EQ(quillmark.untimedLines(), "");
  quillmark.expectCleanEnd(SIGINT);
  // It never listened: the returning server brings no "ok" and no second report of the same error.
  const std::string& out = quillmark.output();
  EXPECT_EQ(out.find("Art-Net in: ok"), std::string::npos) << out;
  const std::string cannotListen = "Art-Net in: Cannot listen";
  EXPECT_EQ(out.find(cannotListen), out.rfind(cannotListen)) << out;
  EXPECT_EQ(QSettings(QString::fromStdString(storeFile), QSettings::NativeFormat).allKeys(),
            QStringList{QString::fromStdString(Persistence::storeKey("settings-Studio A/2"))});
  const Settings saved = Persistence(std::string("Studio A/2"), storeFile).loadSettings();
  EXPECT_EQ(saved.source, SourceKind::artnet);
  EXPECT_EQ(saved.ltcInputUID, std::optional<std::string>("system"));
}

}  // namespace
}  // namespace quillmark
