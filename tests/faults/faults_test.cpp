// Faults the running application must survive, driven through "quillmark --headless" as a child process on
// an isolated JACK server: the server killed under it, a MIDI source that vanishes mid-sequence, and audio
// devices that disappear while their buffers flow. Each time the process must stay up, say what happened,
// and pick everything up again by itself once the world is back. Test clients stand for the LTC source,
// the desk that hears our MTC and the recorder that hears our LTC; what Quillmark sends is judged against
// what the source played at the same host time.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/persistence.h"
#include "core/host_time.h"
#include "tests/engine/jack_world.h"
#include "tests/support/jack_server.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using test::AudioRecorder;
using test::JackServer;
using test::LTCPlayer;
using test::MIDIRecorder;
using test::MTCSender;
using test::waitFor;

constexpr double kHour25 = 3600.0 * 25.0;  // frames in an hour at 25 fps
const std::string kVirtualOut = "Quillmark:Virtual out";

// A program run as a child process with its own user settings directory and this process's JACK server,
// its output collected; killed (SIGKILL, at whatever instant it is in) when the object goes.
class Child {
 public:
  Child(const QString& program, const QString& configDir, QStringList arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configDir);
    // The test server unlocks PipeWire's callbacks for the tests' own clients; Quillmark, as in a user's
    // session, must see to its own.
    env.remove("PIPEWIRE_PROPS");
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (program == QM_QUILLMARK) arguments.prepend("--headless");
    process_.start(program, arguments);
  }
  const std::string& output() {
    output_ += process_.readAll().toStdString();
    return output_;
  }
  // Waits until the output holds `text` at or after byte `from`; its end offset, or none in time.
  std::optional<std::size_t> waitForText(const std::string& text, double seconds, std::size_t from = 0) {
    std::size_t at = std::string::npos;
    waitFor(
        [&] {
          process_.waitForReadyRead(20);
          return (at = output().find(text, from)) != std::string::npos;
        },
        seconds);
    return at == std::string::npos ? std::nullopt : std::optional<std::size_t>(at + text.size());
  }
  bool running() {
    process_.waitForFinished(0);
    return process_.state() != QProcess::NotRunning;
  }
  // Ends the child as a user would and checks it left cleanly.
  void expectCleanEnd() {
    process_.terminate();
    ASSERT_TRUE(process_.waitForFinished(15000)) << "did not end on SIGTERM\n" << output();
    EXPECT_TRUE(process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0) << output();
    EXPECT_NE(output().find("Outputs stopped, settings saved"), std::string::npos) << output();
  }

 private:
  QProcess process_;
  std::string output_;
};

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

// Waits until both outputs follow the source from now on: MTC on the desk and LTC on the tape.
template <class Source>
bool bothOutputsFollow(const MIDIRecorder& desk, const AudioRecorder& tape, const Source& source) {
  const Reference reference = [&source](double host) { return source.positionAt(host); };
  const double after = HostTime::now();
  return waitFor(
      [&] {
        return mtcFollowing(desk, reference, after) >= 10 && ltcFollowing(tape, reference, after) >= 25;
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

// A client of our own on the test server that wires Quillmark's virtual MTC port to the desk as soon as
// both ports exist.
struct Patchbay {
  Patchbay() : client(test::openTestClient("faults-patchbay")) {}
  ~Patchbay() {
    if (client) jack_client_close(client);
  }
  bool connect(const std::string& to) {
    return client && waitFor([&] { return test::connectPorts(client, kVirtualOut, to); }, 10.0);
  }
  jack_client_t* client;
};

class FaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "faults_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }
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
  auto player = std::make_unique<LTCPlayer>(FrameRate::fps25, 10 * kHour25, 25.0);
  auto desk = std::make_unique<MIDIRecorder>();
  auto tape = std::make_unique<AudioRecorder>(60.0);
  auto patchbay = std::make_unique<Patchbay>();
  auto quillmark = launch();
  ASSERT_TRUE(patchbay->connect(desk->port())) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *player)) << quillmark->output();

  server_->kill();
  abandon(player);
  abandon(desk);
  abandon(tape);
  patchbay->client = nullptr;  // a dead server's client must not be closed either
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
  ASSERT_TRUE(patchbay->connect(desk->port())) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(*desk, *tape, *player)) << quillmark->output();
  // The loss is told once, with the last label read, and without libjack's own complaints; the return
  // starts everything once.
  const std::string& out = quillmark->output();
  EXPECT_NE(out.find("Stopped at 10:"), std::string::npos) << out;
  EXPECT_EQ(out.find("Stopped at \n"), std::string::npos) << out;
  for (const char* noise : {"Cannot read socket", "CheckRes error", "Server is not running"})
    EXPECT_EQ(out.find(noise), std::string::npos) << out;
  const std::string back = out.substr(*lost);
  for (const char* once : {"LTC input: ", "Outputs: ", "JACK server started"})
    EXPECT_EQ(back.find(once), back.rfind(once)) << back;
  EXPECT_EQ(back.find("Audio devices changed"), std::string::npos) << back;
  quillmark->expectCleanEnd();
}

TEST_F(FaultsTest, MIDISourceVanishingMidSequenceFreewheelsStopsAndTheNextSourceIsFollowed) {
  SetUpRoad(SourceKind::mtc);
  MIDIRecorder desk;
  AudioRecorder tape(60.0);
  Patchbay patchbay;
  auto quillmark = launch();
  ASSERT_TRUE(patchbay.connect(desk.port())) << quillmark->output();
  auto sender = std::make_unique<MTCSender>(FrameRate::fps25, static_cast<std::int64_t>(10 * kHour25));
  ASSERT_TRUE(bothOutputsFollow(desk, tape, *sender)) << quillmark->output();

  // Quarter frames go out every 10 ms, so the source goes between two pieces of a sequence.
  const std::size_t before = quillmark->output().size();
  sender.reset();
  const auto freewheeling = quillmark->waitForText("Input lost at 10:", 10.0, before);
  ASSERT_TRUE(freewheeling) << quillmark->output();
  ASSERT_TRUE(quillmark->waitForText("Stopped at 10:", 10.0, *freewheeling)) << quillmark->output();
  ASSERT_TRUE(quillmark->running()) << quillmark->output();

  sender = std::make_unique<MTCSender>(FrameRate::fps25, static_cast<std::int64_t>(2 * kHour25));
  EXPECT_TRUE(quillmark->waitForText("Locked at 02:", 10.0, *freewheeling)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(desk, tape, *sender)) << quillmark->output();
  quillmark->expectCleanEnd();
}

TEST_F(FaultsTest, AudioDevicesKilledWhileStreamingAreReportedAndPickedUpAgainWhenTheyReturn) {
  SetUpRoad(SourceKind::ltc);
  MIDIRecorder desk;
  auto tape = std::make_unique<AudioRecorder>(60.0);
  Patchbay patchbay;
  // The first source is a process of its own, so it can be killed at any instant of a cycle.
  auto source = launch(QM_LTC_PLAYER);
  ASSERT_TRUE(source->waitForText("playing", 10.0)) << source->output();
  auto quillmark = launch();
  ASSERT_TRUE(patchbay.connect(desk.port())) << quillmark->output();
  ASSERT_TRUE(quillmark->waitForText("Locked at 10:", 15.0)) << quillmark->output();

  std::size_t mark = quillmark->output().size();
  source.reset();  // SIGKILL mid-stream
  const auto inputGone = quillmark->waitForText("LTC input: No audio input found.", 10.0, mark);
  ASSERT_TRUE(inputGone) << quillmark->output();
  ASSERT_TRUE(quillmark->running());

  LTCPlayer player(FrameRate::fps25, 20 * kHour25, 25.0);
  ASSERT_TRUE(quillmark->waitForText("LTC input: ok", 10.0, *inputGone)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(desk, *tape, player)) << quillmark->output();

  // The LTC output's device goes while its buffers flow, then comes back under the same name.
  mark = quillmark->output().size();
  tape.reset();
  const auto outputGone = quillmark->waitForText("Outputs: No audio output found.", 10.0, mark);
  ASSERT_TRUE(outputGone) << quillmark->output();
  ASSERT_TRUE(quillmark->running());
  tape = std::make_unique<AudioRecorder>(60.0);
  ASSERT_TRUE(quillmark->waitForText("Outputs: ok", 10.0, *outputGone)) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(desk, *tape, player)) << quillmark->output();
  quillmark->expectCleanEnd();
}

// Frames of the tape, and MTC sequences of the desk, heard after `after`, that do not continue the one
// before them: a label other than the next, or more than a frame and a half of time between them.
int ltcBreaks(const AudioRecorder& tape, double after) {
  int breaks = 0;
  std::optional<AudioRecorder::Frame> previous;
  for (const auto& frame : tape.decode()) {
    if (frame.host < after) continue;
    if (previous && (frame.frame.timecode.frameNumber(FrameRate::fps25) !=
                         previous->frame.timecode.frameNumber(FrameRate::fps25) + 1 ||
                     frame.host - previous->host > 1.5 / 25.0)) {
      ++breaks;
    }
    previous = frame;
  }
  return breaks;
}
int mtcBreaks(const MIDIRecorder& desk, double after) {
  int breaks = 0;
  const MTCDecoder::Event::Sequence* previous = nullptr;
  const auto events = desk.events();
  for (const auto& [event, index] : events) {
    const auto* sequence = event.asSequence();
    if (!sequence || sequence->quarterTimes[0] < after) continue;
    if (previous && (sequence->timecode.frameNumber(FrameRate::fps25) !=
                         previous->timecode.frameNumber(FrameRate::fps25) + 2 ||
                     sequence->quarterTimes[0] - previous->quarterTimes[7] > 1.5 / 100.0)) {
      ++breaks;
    }
    previous = sequence;
  }
  return breaks;
}

TEST_F(FaultsTest, OtherProgramsComingAndGoingLeaveEveryOutputRunningAndTheLogQuiet) {
  SetUpRoad(SourceKind::ltc);
  LTCPlayer player(FrameRate::fps25, 10 * kHour25, 25.0);
  MIDIRecorder desk;
  AudioRecorder tape(60.0);
  Patchbay patchbay;
  test::TestClient probe("faults-probe", nullptr);  // counts the server's xruns
  probe.activate();
  auto quillmark = launch();
  ASSERT_TRUE(patchbay.connect(desk.port())) << quillmark->output();
  ASSERT_TRUE(bothOutputsFollow(desk, tape, player)) << quillmark->output();

  // A meter (audio inputs), a media player (audio outputs) and a MIDI keyboard appear and leave, and a
  // program with 64 ports starts and ends, while the outputs run; an xrun cuts the tape, so a stretch that
  // had one is run again.
  int attempts = 0;
  bool clean = false;
  while (!clean && attempts++ < 3) {
    quillmark->waitForText("never printed", 0.5);  // takes in what it printed so far
    const std::size_t mark = quillmark->output().size();
    const int xruns = probe.xruns();
    const double from = HostTime::now();
    for (int round = 0; round < 3; ++round) {
      for (const auto& [ports, type, flags] : {std::tuple{2, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput},
                                               {2, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput},
                                               {1, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput},
                                               {64, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput}}) {
        test::TestClient other("other-program", nullptr);
        for (int i = 0; i < ports; ++i) other.addPort(("port " + std::to_string(i + 1)).c_str(), type, flags);
        other.activate();
        quillmark->waitForText("never printed", 0.3);
      }
    }
    quillmark->waitForText("never printed", 1.0);
    clean = probe.xruns() == xruns;
    if (!clean) continue;
    EXPECT_EQ(quillmark->output().substr(mark), "") << "the log gained a line";
    EXPECT_EQ(ltcBreaks(tape, from), 0);
    EXPECT_EQ(mtcBreaks(desk, from), 0);
  }
  EXPECT_TRUE(clean) << "every stretch had an xrun";
  quillmark->expectCleanEnd();
}

TEST_F(FaultsTest, TwoInstancesOnOneServerNeverRestartEachOther) {
  SetUpRoad(SourceKind::ltc, "A", "ltc-recorder");
  LTCPlayer player(FrameRate::fps25, 10 * kHour25, 25.0);
  AudioRecorder tapeA(60.0);
  AudioRecorder tapeB(60.0);
  SetUpRoad(SourceKind::ltc, "B", tapeB.clientName());
  auto a = launch(QM_QUILLMARK, {"--profile", "A"});
  auto b = launch(QM_QUILLMARK, {"--profile", "B"});
  ASSERT_TRUE(a->waitForText("Locked at 10:", 15.0)) << a->output();
  ASSERT_TRUE(b->waitForText("Locked at 10:", 15.0)) << b->output();
  // Each names its clients after its profile. A restart would open a client anew, under a new id.
  jack_client_t* look = test::openTestClient("faults-look");
  ASSERT_NE(look, nullptr);
  const auto ids = [&] {
    std::string all;
    for (const char* name : {"Quillmark-A LTC in", "Quillmark-A LTC out", "Quillmark-B LTC in",
                             "Quillmark-B LTC out", "Quillmark-A", "Quillmark-B"}) {
      char* uuid = jack_get_uuid_for_client_name(look, name);
      all += std::string(uuid ? uuid : "none") + " ";
      jack_free(uuid);
    }
    return all;
  };
  const std::string before = ids();
  EXPECT_EQ(before.find("none"), std::string::npos) << before;
  const double until = HostTime::now() + 10.0;
  waitFor([&] { return !a->running() || !b->running() || HostTime::now() >= until; }, 15.0);
  EXPECT_EQ(ids(), before) << "an LTC input or output was restarted";
  for (Child* child : {a.get(), b.get()}) {
    EXPECT_EQ(child->output().find("Audio devices changed"), std::string::npos) << child->output();
  }
  jack_client_close(look);
  a->expectCleanEnd();
  b->expectCleanEnd();
}

}  // namespace
}  // namespace quillmark
