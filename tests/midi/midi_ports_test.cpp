// MIDIPorts on a real, isolated JACK server with another MIDI program the test plays: the lists, the
// graph-change notice on the main thread, per-source decoding, names that follow renames, and time stamps.
#include "midi/midi_ports.h"

#include <gtest/gtest.h>
#include <jack/metadata.h>

#include <cmath>
#include <map>
#include <thread>

#include "core/host_time.h"
#include "jack/jack_metadata_lock.h"
#include "midi/mtc.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/jack_server.h"
#include "tests/support/main_queue.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using test::TestClient;

// Another MIDI program: outputs "out1" ... (ports 0 ...) then inputs "in1" ...; `capture` frames of
// latency on its outputs.
std::unique_ptr<TestClient> midiProgram(const std::string& name, int inputs, int outputs,
                                        jack_nframes_t capture = 0) {
  auto client = std::make_unique<TestClient>(name, capture);
  for (int i = 1; i <= outputs; ++i) client->addMidiOut("out" + std::to_string(i));
  for (int i = 1; i <= inputs; ++i) client->addMidiIn("in" + std::to_string(i));
  client->activate();
  return client;
}

std::vector<std::uint8_t> bytes(std::span<const std::uint8_t> message) {
  return {message.begin(), message.end()};
}

class MIDIPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::sharedServer();
    mainThread_ = std::this_thread::get_id();
    // Marks the process thread, and also libjack's notification thread, whose graph callbacks may
    // allocate: allocations are judged only while the graph stays as it is.
    ports_ = MIDIPorts::create(main_.context(), [] { test::setRealtimeThread(true); });
    ports_->setOnPortsChanged([this] {
      if (std::this_thread::get_id() != mainThread_) changedOffMain_ = true;
      ++portsChanged_;
    });
    ports_->setOnMTC([this](const MTCDecoder::Event& event, const std::string& name) {
      std::lock_guard<std::mutex> guard(mutex_);
      events_.emplace_back(event, name);
    });
  }

  void TearDown() override { EXPECT_FALSE(changedOffMain_); }

  std::vector<std::pair<MTCDecoder::Event, std::string>> events() {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
  }

  test::MainQueue main_;
  std::thread::id mainThread_;
  std::shared_ptr<MIDIPorts> ports_;
  int portsChanged_ = 0;
  bool changedOffMain_ = false;
  std::mutex mutex_;
  std::vector<std::pair<MTCDecoder::Event, std::string>> events_;  // guarded by mutex_
};

// Another program joins: its ports are listed (ours never are), its output is heard by itself and
// decoded, its events named after its port through a rename and a pretty name; it leaves and the lists
// shrink.
TEST_F(MIDIPortsTest, ListsAndDecodesAnotherProgramNamedAfterEveryRenameButNeverItsOwnPorts) {
  const MIDIPort virtualSourceEntry{ports_->virtualDestination(), "Virtual port"};
  const MIDIPort virtualDestinationEntry{ports_->virtualSource(), "Virtual port"};
  ASSERT_NE(ports_->virtualSource(), 0u);
  ASSERT_NE(ports_->virtualDestination(), ports_->virtualSource());
  EXPECT_EQ(ports_->sources(), std::vector<MIDIPort>{virtualSourceEntry});
  EXPECT_EQ(ports_->destinations(), std::vector<MIDIPort>{virtualDestinationEntry});
  {
    auto other = midiProgram("desk", 1, 1);
    ASSERT_TRUE(main_.drainUntil([&] { return portsChanged_ > 0 && ports_->sources().size() == 2; }));
    const auto sources = ports_->sources();
    const auto destinations = ports_->destinations();
    ASSERT_EQ(destinations.size(), 2u);
    EXPECT_EQ(sources[0], virtualSourceEntry);
    EXPECT_EQ(sources[1].name, "desk:out1");
    EXPECT_EQ(destinations[0], virtualDestinationEntry);
    EXPECT_EQ(destinations[1].name, "desk:in1");
    // PipeWire makes the connection a moment after jack_connect returned.
    EXPECT_TRUE(main_.drainUntil([&] { return other->connected(0); }))
        << "a new source is connected by itself";
    const std::uint32_t ref = sources[1].ref;
    const Timecode label{1, 2, 3, 4};
    auto sendAndExpectName = [&](const std::string& name) {
      const std::size_t before = events().size();
      other->send(0, bytes(MTC::fullFrame(label, FrameRate::fps25)));
      ASSERT_TRUE(main_.drainUntil([&] { return events().size() == before + 1; })) << name;
      const auto [event, source] = events().back();
      ASSERT_NE(event.asFullFrame(), nullptr);
      EXPECT_EQ(event.asFullFrame()->timecode, label);
      EXPECT_EQ(source, name);
    };
    sendAndExpectName("desk:out1");
    int before = portsChanged_;
    ASSERT_EQ(jack_port_rename(other->get(), other->jackPort(0), "timecode"), 0);
    if (test::JackServer::onPipeWire()) {
      // PipeWire's libjack shows a rename to no other client: no notice, and their port lists keep the old
      // name. For every other program the source is unchanged, and so it stays for us.
      sendAndExpectName("desk:out1");
      EXPECT_EQ(ports_->sources().at(1), (MIDIPort{ref, "desk:out1"}));
    } else {
      ASSERT_TRUE(main_.drainUntil([&] { return portsChanged_ > before; }));
      EXPECT_EQ(ports_->sources().at(1), (MIDIPort{ref, "desk:timecode"})) << "a rename keeps the reference";
      sendAndExpectName("desk:timecode");
    }

    before = portsChanged_;
    {
      // libjack's metadata store has no lock of its own; MIDIPorts reads source names on its own thread.
      const std::lock_guard<std::mutex> guard(jackMetadataMutex());
      jack_set_property(other->get(), jack_port_uuid(other->jackPort(0)), JACK_METADATA_PRETTY_NAME,
                        "Desk MTC", "text/plain");
    }
    if (test::JackServer::onPipeWire()) {
      // PipeWire's libjack (0.3.65 here) stores the name, so the list shows it, but sends the other clients
      // no property notice: the events keep the name they had until the next change of the graph.
      EXPECT_TRUE(main_.drainUntil([&] { return ports_->sources().at(1) == MIDIPort{ref, "Desk MTC"}; }));
    } else {
      ASSERT_TRUE(main_.drainUntil([&] { return portsChanged_ > before; }));
      EXPECT_EQ(ports_->sources().at(1), (MIDIPort{ref, "Desk MTC"}));
      sendAndExpectName("Desk MTC");
    }
    // JACK reuses port identities and keeps their metadata: leave no pretty name for the next port.
    const std::lock_guard<std::mutex> guard(jackMetadataMutex());
    jack_remove_property(other->get(), jack_port_uuid(other->jackPort(0)), JACK_METADATA_PRETTY_NAME);
  }
  const int before = portsChanged_;
  EXPECT_TRUE(main_.drainUntil([&] { return portsChanged_ > before && ports_->sources().size() == 1; }));
  EXPECT_EQ(ports_->destinations().size(), 1u);

  // A source that left gave its input port back: sources that come and go one at a time are each heard
  // through the same one, however many there are over a long run.
  for (int i = 0; i < 12; ++i) {
    auto passing = midiProgram("passing " + std::to_string(i), 0, 1);
    ASSERT_TRUE(main_.drainUntil([&] { return passing->connected(0); })) << i;
  }
  TestClient looker("looker");
  const char** inputs = jack_get_ports(looker.get(), (ports_->clientName() + ":Input ").c_str(),
                                       JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
  std::size_t count = 0;
  for (const char** p = inputs; p && *p; ++p) ++count;
  jack_free(inputs);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(ports_->unheardSources(), 0u);
}

// Sources at once: a sender patched into the virtual destination (and heard as itself too, like every
// other program's output), and a keyboard whose two outputs reach JACK a tenth of a second (at 48 kHz)
// after they were played. One message per output per cycle, so the keyboard's two sources alternate; each
// is decoded on its own and named, and every quarter frame is stamped with the host time of its frame,
// less the capture latency of the port it came from.
TEST_F(MIDIPortsTest, DecodesEverySourceApartStampedWithItsFramesHostTimeLessItsCaptureLatency) {
  constexpr jack_nframes_t kLatency = 4800;
  auto sender = midiProgram("sender", 0, 1);
  auto keyboard = midiProgram("keyboard", 0, 2, kLatency);
  ASSERT_EQ(jack_connect(sender->get(), sender->port(0).c_str(), "Quillmark:Virtual in"), 0);
  ASSERT_TRUE(main_.drainUntil([&] {
    return jack_port_connected(sender->jackPort(0)) == 2 && keyboard->connected(0) && keyboard->connected(1);
  }));
  // The frame-to-time lines (ours and the senders') are fitted to wake-ups and move by more than a sample
  // while their first second of history fills; the exactness judged below is that of a settled line.
  const double settled = HostTime::now() + 1.0;
  ASSERT_TRUE(test::waitFor([&] { return HostTime::now() > settled; }, 2.0));
  test::resetRealtimeAllocations();
  for (int piece = 0; piece < 8; ++piece) {
    const auto first = bytes(MTC::quarterFrame(4 * 90000 + piece, FrameRate::fps25));  // 01:00:00:00
    sender->send(0, first);
    keyboard->send(0, first);
    keyboard->send(1, bytes(MTC::quarterFrame(4 * 180000 + piece, FrameRate::fps25)));  // 02:00:00:00
  }
  ASSERT_TRUE(
      main_.drainUntil([&] { return events().size() == 4 && keyboard->allSent() && sender->allSent(); }));
  if (test::allocationCountingAvailable()) {
    EXPECT_EQ(test::realtimeAllocations(), 0u) << "the process thread allocated while receiving";
  }
  std::map<std::string, MTCDecoder::Event> decoded;
  for (const auto& [event, source] : events()) decoded.emplace(source, event);
  const double period = 1.0 / jack_get_sample_rate(sender->get());
  const double latency = kLatency * period;
  // Sanitizer builds wake up too unevenly for a fraction of a millisecond; a stamp that kept the latency
  // is out by all of it either way.
  const double tolerance = test::allocationCountingAvailable() ? 300e-6 : 5e-3;
  struct Expected {
    const char* source;
    Timecode timecode;
    const TestClient& client;
    int output;
    double latency;
  };
  for (const Expected& e : {Expected{"Virtual port", {1, 0, 0, 0}, *sender, 0, 0.0},
                            Expected{"sender:out1", {1, 0, 0, 0}, *sender, 0, 0.0},
                            Expected{"keyboard:out1", {1, 0, 0, 0}, *keyboard, 0, latency},
                            Expected{"keyboard:out2", {2, 0, 0, 0}, *keyboard, 1, latency}}) {
    SCOPED_TRACE(e.source);
    ASSERT_TRUE(decoded.count(e.source));
    const auto* sequence = decoded.at(e.source).asSequence();
    ASSERT_NE(sequence, nullptr);
    EXPECT_EQ(sequence->timecode, e.timecode);
    const std::vector<test::MidiEvent> sent = e.client.sent(e.output);
    ASSERT_EQ(sent.size(), 8u);
    // Frames are exact: each piece's stamp lies as many sample periods after the one before as the sender
    // wrote frames between them. A stamp one frame off is out by a whole period; only where our
    // frame-to-time line takes in an earlier wake-up (often in its first half second) may a gap be off by
    // a sample or two, and not often.
    const auto& times = sequence->quarterTimes;
    int moved = 0;
    for (int piece = 1; piece < 8; ++piece) {
      const double error = std::fabs(times[piece] - times[piece - 1] -
                                     static_cast<double>(sent[piece].frame - sent[piece - 1].frame) * period);
      EXPECT_LT(error, 2 * period) << "piece " << piece;
      if (error > period / 2) ++moved;
    }
    EXPECT_LE(moved, 2) << "stamps off their frames";
    // On the host clock: the sender's own line puts those frames within two clients' wake-up spread of
    // the stamps (JACK's own clock is hundreds of milliseconds from the host clock here).
    for (int piece = 0; piece < 8; ++piece) {
      EXPECT_NEAR(times[piece], sent[piece].host - e.latency, tolerance) << "piece " << piece;
    }
  }
}

TEST(MIDIPortsRules, KeepsPlausiblePacketTimesAndNamesAnEndpointByPrettyNameElsePortNameElseMIDI) {
  const double now = 1000.0;
  EXPECT_EQ(MIDIPorts::packetTime(now + 0.999, now), now + 0.999);
  EXPECT_EQ(MIDIPorts::packetTime(now - 0.5, now), now - 0.5);
  EXPECT_EQ(MIDIPorts::packetTime(now + 2.0, now), now);
  EXPECT_EQ(MIDIPorts::packetTime(now - 1.0, now), now);
  EXPECT_EQ(MIDIPorts::displayName("Desk MTC", "desk:out1"), "Desk MTC");
  EXPECT_EQ(MIDIPorts::displayName("", "desk:out1"), "desk:out1");
  EXPECT_EQ(MIDIPorts::displayName(nullptr, ""), "MIDI");
}

}  // namespace
}  // namespace quillmark
