// Faults the running application must survive, driven through "quillmark --headless" as a child process on
// an isolated JACK server: the server killed under it, a MIDI source that vanishes mid-sequence, and audio
// devices that disappear while their buffers flow. Each time the process must stay up, say what happened,
// and pick everything up again by itself once the world is back. Test clients stand for the LTC source,
// the desk that hears our MTC and the recorder that hears our LTC; what Quillmark sends is judged against
// what the source played at the same host time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QSettings>
#include <QTemporaryDir>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/persistence.h"
#include "core/host_time.h"
#include "tests/engine/jack_world.h"
#include "tests/faults/child_process.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using test::AudioRecorder;
using test::ChildProcess;
using test::JackServer;
using test::LTCPlayer;
using test::MIDIRecorder;
using test::MTCSender;
using test::waitFor;

constexpr double kHour25 = 3600.0 * 25.0;  // frames in an hour at 25 fps
const std::string kVirtualOut = "Quillmark:Virtual out";

// Where a source was at a host time, in 25 fps frames.
using Reference = std::function<double(double host)>;

// Complete MTC sequences heard after `after` whose label matches the source within two frames.
int mtcFollowing(const MIDIRecorder& desk, const Reference& source, double after) {
  int matching = 0;
  for (const auto& [event, index] : desk.events()) {
    const auto* sequence = event.asSequence();
    if (!sequence || sequence->quarterTimes[0] < after) continue;
    const double sent = static_cast<double>(sequence->timecode.frameNumber(FrameRate::fps25));
    if (std::fabs(sent - source(sequence->quarterTimes[0])) <= 2.0) ++matching;
  }
  return matching;
}

// LTC frames recorded after `after` whose label matches the source within three frames.
int ltcFollowing(const AudioRecorder& tape, const Reference& source, double after) {
  int matching = 0;
  for (const auto& frame : tape.decode()) {
    if (frame.host < after) continue;
    const double sent = static_cast<double>(frame.frame.timecode.frameNumber(FrameRate::fps25));
    if (std::fabs(sent - source(frame.host)) <= 3.0) ++matching;
  }
  return matching;
}

// A client of our own on the test server, to wire Quillmark's virtual MTC port to the desk.
class Patchbay {
 public:
  Patchbay() : client_(test::openTestClient("faults-patchbay")) {}
  ~Patchbay() {
    if (client_) jack_client_close(client_);
  }
  // Connects as soon as both ports exist; false when they did not appear in time.
  bool connectWhenReady(const std::string& from, const std::string& to, double seconds = 10.0) {
    return client_ && waitFor([&] { return test::connectPorts(client_, from, to); }, seconds);
  }
  // After the server died: libjack must not be asked to close a client of a dead server, so it is left.
  void abandon() { client_ = nullptr; }

 private:
  jack_client_t* client_;
};

// The outside world's clients die with a killed server; closing them then is unsafe in libjack, so they
// are left behind on purpose (a few kilobytes per test).
// They stay reachable from here, so the leak checker does not count them.
template <class T>
void abandon(std::unique_ptr<T>& client) {
  static std::vector<std::unique_ptr<T>>* leftBehind = new std::vector<std::unique_ptr<T>>;
  leftBehind->push_back(std::move(client));
}

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    server_ = JackServer::start();
  }

  // Stores the settings the child reads at start, in its own user settings directory.
  void writeSettings(const Settings& settings) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
    ASSERT_TRUE(Persistence(std::nullopt).saveSettings(settings));
  }
  static Settings road(SourceKind source) {
    Settings s;
    s.source = source;
    s.ltcInputUID = "ltc-player";
    s.mtcOutEnabled = true;
    s.mtcOutName = "Virtual port";
    s.ltcOutEnabled = true;
    s.ltcOutUID = "ltc-recorder";
    return s;
  }
  std::unique_ptr<ChildProcess> launch() {
    return std::make_unique<ChildProcess>(std::vector<std::string>{QM_QUILLMARK, "--headless"},
                                          config_.path().toStdString());
  }
  static Reference of(const LTCPlayer& player) {
    return [&player](double host) { return player.positionAt(host); };
  }
  static Reference of(const MTCSender& sender) {
    return [&sender](double host) { return sender.positionAt(host); };
  }
  // Waits until both outputs follow the source: MTC on the desk and LTC on the tape.
  static bool bothOutputsFollow(const MIDIRecorder& desk, const AudioRecorder& tape, const Reference& source,
                                double after) {
    return waitFor(
        [&] { return mtcFollowing(desk, source, after) >= 10 && ltcFollowing(tape, source, after) >= 25; },
        20.0);
  }
  // Ends the child as a user would and checks it left cleanly.
  static void expectCleanEnd(ChildProcess& quillmark) {
    const std::optional<int> status = quillmark.terminate(15.0);
    ASSERT_TRUE(status) << "did not end on SIGTERM\n" << quillmark.output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status << "\n"
                                                                 << quillmark.output();
    EXPECT_NE(quillmark.output().find("Outputs stopped, settings saved"), std::string::npos)
        << quillmark.output();
  }

  QTemporaryDir config_;
  std::unique_ptr<JackServer> server_;  // destroyed after every client the test body made
};

TEST_F(FaultsTest, KilledServerIsSurvivedLoggedAndEverythingRunsAgainWhenAServerReturns) {
  auto player = std::make_unique<LTCPlayer>(FrameRate::fps25, 10 * kHour25, 25.0);
  auto desk = std::make_unique<MIDIRecorder>();
  auto tape = std::make_unique<AudioRecorder>(60.0);
  auto patchbay = std::make_unique<Patchbay>();
  writeSettings(road(SourceKind::ltc));
  auto quillmark = launch();
  ASSERT_TRUE(patchbay->connectWhenReady(kVirtualOut, desk->port())) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, of(*player), HostTime::now())) << quillmark->output();

  server_->kill();
  abandon(player);
  abandon(desk);
  abandon(tape);
  patchbay->abandon();
  const auto lost = quillmark->waitForText("No JACK server reachable: trying again every 2 seconds", 10.0);
  ASSERT_TRUE(lost) << quillmark->output();
  EXPECT_NE(quillmark->output().find("JACK server stopped"), std::string::npos) << quillmark->output();
  // Several retries pass without a server; the process neither dies nor stops answering.
  const double until = HostTime::now() + 5.0;
  EXPECT_TRUE(waitFor([&] { return !quillmark->running() || HostTime::now() >= until; }, 10.0));
  ASSERT_TRUE(quillmark->running()) << quillmark->output();

  server_->restart();
  player = std::make_unique<LTCPlayer>(FrameRate::fps25, 20 * kHour25, 25.0);
  desk = std::make_unique<MIDIRecorder>();
  tape = std::make_unique<AudioRecorder>(60.0);
  patchbay = std::make_unique<Patchbay>();
  ASSERT_TRUE(quillmark->waitForText("JACK server started", 15.0, *lost)) << quillmark->output();
  ASSERT_TRUE(patchbay->connectWhenReady(kVirtualOut, desk->port())) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, of(*player), HostTime::now())) << quillmark->output();
  expectCleanEnd(*quillmark);
}

TEST_F(FaultsTest, MIDISourceVanishingMidSequenceFreewheelsStopsAndTheNextSourceIsFollowed) {
  auto desk = std::make_unique<MIDIRecorder>();
  auto tape = std::make_unique<AudioRecorder>(60.0);
  Patchbay patchbay;
  writeSettings(road(SourceKind::mtc));
  auto quillmark = launch();
  ASSERT_TRUE(patchbay.connectWhenReady(kVirtualOut, desk->port())) << quillmark->output();
  auto sender = std::make_unique<MTCSender>(FrameRate::fps25, static_cast<std::int64_t>(10 * kHour25));
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, of(*sender), HostTime::now())) << quillmark->output();

  // Quarter frames go out every 10 ms, so the source goes between two pieces of a sequence.
  const std::size_t before = quillmark->output().size();
  sender.reset();
  const auto freewheeling = quillmark->waitForText("Input lost at 10:", 10.0, before);
  ASSERT_TRUE(freewheeling) << quillmark->output();
  ASSERT_TRUE(quillmark->waitForText("Stopped at 10:", 10.0, *freewheeling)) << quillmark->output();
  ASSERT_TRUE(quillmark->running()) << quillmark->output();

  sender = std::make_unique<MTCSender>(FrameRate::fps25, static_cast<std::int64_t>(2 * kHour25));
  EXPECT_TRUE(quillmark->waitForText("Locked at 02:", 10.0, *freewheeling)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, of(*sender), HostTime::now())) << quillmark->output();
  expectCleanEnd(*quillmark);
}

TEST_F(FaultsTest, AudioDevicesKilledWhileStreamingAreReportedAndPickedUpAgainWhenTheyReturn) {
  auto desk = std::make_unique<MIDIRecorder>();
  auto tape = std::make_unique<AudioRecorder>(60.0);
  Patchbay patchbay;
  writeSettings(road(SourceKind::ltc));
  // The first source is a process of its own, so it can be killed at any instant of a cycle.
  auto source =
      std::make_unique<ChildProcess>(std::vector<std::string>{QM_LTC_PLAYER}, config_.path().toStdString());
  ASSERT_TRUE(source->waitForText("playing", 10.0)) << source->output();
  auto quillmark = launch();
  ASSERT_TRUE(patchbay.connectWhenReady(kVirtualOut, desk->port())) << quillmark->output();
  ASSERT_TRUE(quillmark->waitForText("Locked at 10:", 15.0)) << quillmark->output();

  std::size_t mark = quillmark->output().size();
  source.reset();  // SIGKILL mid-stream
  const auto inputGone = quillmark->waitForText("LTC input: No audio input found.", 10.0, mark);
  ASSERT_TRUE(inputGone) << quillmark->output();
  ASSERT_TRUE(quillmark->running());

  auto player = std::make_unique<LTCPlayer>(FrameRate::fps25, 20 * kHour25, 25.0);
  ASSERT_TRUE(quillmark->waitForText("LTC input: ok", 10.0, *inputGone)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, of(*player), HostTime::now())) << quillmark->output();

  // The LTC output's device goes while its buffers flow, then comes back under the same name.
  mark = quillmark->output().size();
  tape.reset();
  const auto outputGone = quillmark->waitForText("Outputs: No audio output found.", 10.0, mark);
  ASSERT_TRUE(outputGone) << quillmark->output();
  ASSERT_TRUE(quillmark->running());
  tape = std::make_unique<AudioRecorder>(60.0);
  ASSERT_TRUE(quillmark->waitForText("Outputs: ok", 10.0, *outputGone)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, of(*player), HostTime::now())) << quillmark->output();
  expectCleanEnd(*quillmark);
}

}  // namespace
}  // namespace quillmark
