// Faults the running application must survive, driven through "quillmark --headless" as a child process on
// an isolated JACK server: the server killed under it, a MIDI source that vanishes mid-sequence, and audio
// devices that disappear while their buffers flow. Each time the process must stay up, say what happened,
// and pick everything up again by itself once the world is back. Test clients stand for the LTC source,
// the desk that hears our MTC and the recorder that hears our LTC; what Quillmark sends is judged against
// what the source played at the same host time.

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/persistence.h"
#include "core/host_time.h"
#include "tests/app/store_world.h"
#include "tests/faults/child.h"
#include "tests/support/jack_server.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using test::Child;
using test::JackServer;
using test::TestClient;
using test::waitFor;

constexpr double kHour25 = 3600.0 * 25.0;  // frames in an hour at 25 fps

// What a tape heard of LTC out, or a desk of MTC out, from `after` on: each frame, or each complete MTC
// sequence, as its label in 25 fps frames and the host time it began.
struct Label {
  double frame, host;
};
std::vector<Label> ltcHeard(const TestClient& tape, double after) {
  std::vector<Label> heard;
  for (const auto& [frame, host] : tape.decodeLTC()) {
    if (host >= after)
      heard.push_back({static_cast<double>(frame.timecode.frameNumber(FrameRate::fps25)), host});
  }
  return heard;
}
std::vector<Label> mtcHeard(const TestClient& desk, double after) {
  std::vector<Label> heard;
  for (const auto& [event, index] : desk.mtcEvents()) {
    const auto* s = event.asSequence();
    if (s && s->quarterTimes[0] >= after)
      heard.push_back({static_cast<double>(s->timecode.frameNumber(FrameRate::fps25)), s->quarterTimes[0]});
  }
  return heard;
}
// How many labels match what `source` played at their time, within `frames`.
int following(const std::vector<Label>& heard, const TestClient& source, double frames) {
  return static_cast<int>(std::count_if(heard.begin(), heard.end(), [&](const Label& label) {
    return std::fabs(label.frame - source.positionAt(label.host)) <= frames;
  }));
}
// How many labels do not continue the one before: not `step` frames on, or more than `seconds` after it.
int breaks(const std::vector<Label>& heard, double step, double seconds) {
  int count = 0;
  for (std::size_t i = 1; i < heard.size(); ++i) {
    if (heard[i].frame != heard[i - 1].frame + step || heard[i].host - heard[i - 1].host > seconds) ++count;
  }
  return count;
}

// Waits until both outputs follow the source from now on: MTC on the desk and LTC on the tape.
bool bothOutputsFollow(const TestClient& desk, const TestClient& tape, const TestClient& source) {
  const double after = HostTime::now();
  return waitFor(
      [&] {
        return following(mtcHeard(desk, after), source, 2.0) >= 10 &&
               following(ltcHeard(tape, after), source, 3.0) >= 25;
      },
      20.0);
}

// The outside world's clients die with a killed server; closing them then is unsafe in libjack, so they
// are left behind on purpose (a few kilobytes per test), reachable from here so the leak checker is quiet.
template <class T>
void abandon(std::unique_ptr<T>& client) {
  static std::vector<std::unique_ptr<T>>* leftBehind = new std::vector<std::unique_ptr<T>>;
  leftBehind->push_back(std::move(client));
}

// Wires the MIDI client `quillmark`'s virtual MTC port to the desk as soon as both ports exist.
bool patch(const TestClient& desk, const std::string& quillmark = "Quillmark") {
  return waitFor([&] { return test::connectPorts(desk.get(), quillmark + ":Virtual out", desk.port()); },
                 10.0);
}

class FaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::ensureCoreApplication(); }
  // Stores the settings the child reads at start (LTC or MTC in, MTC out to our virtual port, LTC out) for
  // `profile`; the server starts with the first road.
  void SetUpRoad(SourceKind source, std::optional<std::string> profile = std::nullopt,
                 const std::string& tapeName = "ltc-recorder") {
    ASSERT_TRUE(config_.isValid());
    if (!server_) server_ = JackServer::start();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
    Settings s;
    s.source = source;
    s.ltcInputUID = "ltc-player";
    s.mtcOutEnabled = true;
    s.mtcOutName = "Virtual port";
    s.ltcOutEnabled = true;
    s.ltcOutUID = tapeName;
    ASSERT_TRUE(Persistence(std::move(profile)).saveSettings(s));
  }
  std::unique_ptr<Child> launch(const QString& program = QM_QUILLMARK, const QStringList& arguments = {}) {
    return std::make_unique<Child>(program, config_.path(), arguments);
  }

  QTemporaryDir config_;
  std::unique_ptr<JackServer> server_;  // destroyed after every client the test body made
};

TEST_F(FaultsTest, KilledServerIsSurvivedLoggedAndEverythingRunsAgainWhenAServerReturns) {
  SetUpRoad(SourceKind::ltc);
  auto player = test::ltcPlayer(FrameRate::fps25, 10 * kHour25, 25.0);
  auto desk = test::midiRecorder();
  auto tape = test::audioRecorder(60.0);
  auto quillmark = launch();
  ASSERT_TRUE(patch(*desk)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *player)) << quillmark->output();

  server_->kill();
  abandon(player);
  abandon(desk);
  abandon(tape);
  const auto lost = quillmark->waitForText("No JACK server reachable: trying again every 2 seconds", 10.0);
  ASSERT_TRUE(lost) << quillmark->output();
  EXPECT_NE(quillmark->output().find("JACK server stopped"), std::string::npos) << quillmark->output();
  // Several retries pass without a server; the process neither dies nor stops answering.
  const double until = HostTime::now() + 5.0;
  waitFor([&] { return !quillmark->running() || HostTime::now() >= until; }, 10.0);
  ASSERT_TRUE(quillmark->running()) << quillmark->output();

  server_->restart();
  player = test::ltcPlayer(FrameRate::fps25, 20 * kHour25, 25.0);
  desk = test::midiRecorder();
  tape = test::audioRecorder(60.0);
  ASSERT_TRUE(quillmark->waitForText("JACK server started", 15.0, *lost)) << quillmark->output();
  ASSERT_TRUE(patch(*desk)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *player)) << quillmark->output();
  // The loss is told once, with the last label read, and without libjack's own complaints; the return
  // starts everything once.
  const std::string& out = quillmark->output();
  EXPECT_NE(out.find("Stopped at 10:"), std::string::npos) << out;
  EXPECT_EQ(out.find("Stopped at \n"), std::string::npos) << out;
  EXPECT_EQ(quillmark->untimedLines(), "") << "libjack's complaints";
  const std::string back = out.substr(*lost);
  for (const char* once : {"LTC input: ", "Outputs: ", "JACK server started"})
    EXPECT_EQ(back.find(once), back.rfind(once)) << back;
  EXPECT_EQ(back.find("Audio devices changed"), std::string::npos) << back;
  quillmark->expectCleanEnd();
}

TEST_F(FaultsTest, MIDISourceVanishingMidSequenceFreewheelsStopsAndTheNextSourceIsFollowed) {
  SetUpRoad(SourceKind::mtc);
  const auto desk = test::midiRecorder();
  const auto tape = test::audioRecorder(60.0);
  auto quillmark = launch();
  ASSERT_TRUE(patch(*desk)) << quillmark->output();
  auto sender = test::mtcDesk(FrameRate::fps25, static_cast<std::int64_t>(10 * kHour25));
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *sender)) << quillmark->output();

  // Quarter frames go out every 10 ms, so the source goes between two pieces of a sequence.
  const std::size_t before = quillmark->output().size();
  sender.reset();
  const auto freewheeling = quillmark->waitForText("Input lost at 10:", 10.0, before);
  ASSERT_TRUE(freewheeling) << quillmark->output();
  ASSERT_TRUE(quillmark->waitForText("Stopped at 10:", 10.0, *freewheeling)) << quillmark->output();

  sender = test::mtcDesk(FrameRate::fps25, static_cast<std::int64_t>(2 * kHour25));
  EXPECT_TRUE(quillmark->waitForText("Locked at 02:", 10.0, *freewheeling)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *sender)) << quillmark->output();
  quillmark->expectCleanEnd();
}

TEST_F(FaultsTest, AudioDevicesKilledWhileStreamingAreReportedAndPickedUpAgainWhenTheyReturn) {
  SetUpRoad(SourceKind::ltc);
  const auto desk = test::midiRecorder();
  auto tape = test::audioRecorder(60.0);
  // The first source is a process of its own, so it can be killed at any instant of a cycle.
  auto source = launch(QM_LTC_PLAYER);
  ASSERT_TRUE(source->waitForText("playing", 10.0)) << source->output();
  auto quillmark = launch();
  ASSERT_TRUE(patch(*desk)) << quillmark->output();
  ASSERT_TRUE(quillmark->waitForText("Locked at 10:", 15.0)) << quillmark->output();

  std::size_t mark = quillmark->output().size();
  source.reset();  // SIGKILL mid-stream
  const auto inputGone = quillmark->waitForText("LTC input: No audio input found.", 10.0, mark);
  ASSERT_TRUE(inputGone) << quillmark->output();

  const auto player = test::ltcPlayer(FrameRate::fps25, 20 * kHour25, 25.0);
  ASSERT_TRUE(quillmark->waitForText("LTC input: ok", 10.0, *inputGone)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *player)) << quillmark->output();

  // The LTC output's device goes while its buffers flow, then comes back under the same name.
  mark = quillmark->output().size();
  tape.reset();
  const auto outputGone = quillmark->waitForText("Outputs: No audio output found.", 10.0, mark);
  ASSERT_TRUE(outputGone) << quillmark->output();
  tape = test::audioRecorder(60.0);
  ASSERT_TRUE(quillmark->waitForText("Outputs: ok", 10.0, *outputGone)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *player)) << quillmark->output();
  quillmark->expectCleanEnd();
}

// Two instances (profiles A and B) on one server, each reading LTC from the player and writing LTC out,
// while a meter (audio inputs), a media player (audio outputs), a MIDI keyboard and a program with 64
// ports start and end. For ten seconds neither restarts anything (each names its clients after its
// profile; a restart would open one anew, under a new id) or logs a line, and A's LTC out and MTC out
// continue in sequence with no gap; an xrun cuts the tape, so a stretch that had one is judged again.
TEST_F(FaultsTest, TwoInstancesAndOtherProgramsComingAndGoingLeaveEveryOutputRunningAndTheLogsQuiet) {
  SetUpRoad(SourceKind::ltc, "A");
  const auto player = test::ltcPlayer(FrameRate::fps25, 10 * kHour25, 25.0);
  const auto desk = test::midiRecorder();
  const auto tapeA = test::audioRecorder(60.0);
  const auto tapeB = test::audioRecorder(60.0, "ltc-recorder-b");
  SetUpRoad(SourceKind::ltc, "B", tapeB->name());
  TestClient probe("faults-probe");  // counts the server's xruns
  probe.activate();
  auto a = launch(QM_QUILLMARK, {"--profile", "A"});
  auto b = launch(QM_QUILLMARK, {"--profile", "B"});
  ASSERT_TRUE(patch(*desk, "Quillmark-A")) << a->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tapeA, *player)) << a->output();
  ASSERT_TRUE(b->waitForText("Locked at 10:", 15.0)) << b->output();
  const std::vector<std::string> clients = {"Quillmark-A LTC in", "Quillmark-A LTC out",
                                            "Quillmark-B LTC in", "Quillmark-B LTC out",
                                            "Quillmark-A",        "Quillmark-B"};
  const std::string ids = test::clientIds(probe.get(), clients);
  EXPECT_EQ(ids.find("none"), std::string::npos) << ids;

  // A meter, a media player, a MIDI keyboard and a program with 64 ports.
  using AddPort = void (*)(TestClient&, const std::string&);
  const AddPort audioIn = [](TestClient& c, const std::string& port) { c.addAudioIn(port); };
  const AddPort audioOut = [](TestClient& c, const std::string& port) { c.addAudioOut(port); };
  const AddPort midiOut = [](TestClient& c, const std::string& port) { c.addMidiOut(port); };
  const double end = HostTime::now() + 10.0;
  bool judged = false;
  while (HostTime::now() < end || !judged) {
    if (HostTime::now() > end + 20.0) break;
    a->waitForText("never printed", 0.5);  // takes in what they printed so far
    b->waitForText("never printed", 0.01);
    const std::size_t markA = a->output().size(), markB = b->output().size();
    const int xruns = probe.xruns();
    const double from = HostTime::now();
    for (const auto& [ports, add] : {std::pair{2, audioIn}, {2, audioOut}, {1, midiOut}, {64, audioOut}}) {
      TestClient other("other-program");
      for (int i = 1; i <= ports; ++i) add(other, "port " + std::to_string(i));
      other.activate();
      a->waitForText("never printed", 0.3);
    }
    a->waitForText("never printed", 1.0);
    b->waitForText("never printed", 0.01);
    if (probe.xruns() != xruns) continue;
    judged = true;
    EXPECT_EQ(a->output().substr(markA), "") << "A's log gained a line";
    EXPECT_EQ(b->output().substr(markB), "") << "B's log gained a line";
    // A break: LTC frames starting more than a frame and a half apart, MTC sequences (two frames each) more
    // than a quarter frame and a half.
    EXPECT_EQ(breaks(ltcHeard(*tapeA, from), 1, 1.5 / 25.0), 0) << "A's LTC out";
    EXPECT_EQ(breaks(mtcHeard(*desk, from), 2, 2.0 / 25.0 + 1.5 / 100.0), 0) << "A's MTC out";
  }
  EXPECT_TRUE(judged) << "every stretch had an xrun";
  EXPECT_EQ(test::clientIds(probe.get(), clients), ids) << "an LTC input or output was restarted";
  for (Child* child : {a.get(), b.get()}) {
    EXPECT_EQ(child->output().find("Audio devices changed"), std::string::npos) << child->output();
  }
  a->expectCleanEnd();
  b->expectCleanEnd();
}

}  // namespace
}  // namespace quillmark
