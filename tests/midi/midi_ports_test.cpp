// MIDIPorts on a real, isolated JACK server with another MIDI program the test plays: the lists, the
// graph-change notice on the main thread, per-source decoding, names that follow renames, and time stamps.
#include "midi/midi_ports.h"

#include <gtest/gtest.h>
#include <jack/metadata.h>

#include <cmath>
#include <map>
#include <thread>

#include "audio/jack_metadata_lock.h"
#include "core/host_time.h"
#include "midi/mtc.h"
#include "tests/midi/midi_test_client.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using test::MidiTestClient;

std::vector<std::uint8_t> bytes(std::span<const std::uint8_t> message) {
  return {message.begin(), message.end()};
}

// The eight quarter frames of the group that starts at `frame`.
std::vector<std::vector<std::uint8_t>> quarterFrameGroup(std::int64_t frame, FrameRate rate) {
  std::vector<std::vector<std::uint8_t>> group;
  for (int piece = 0; piece < 8; ++piece) group.push_back(bytes(MTC::quarterFrame(frame * 4 + piece, rate)));
  return group;
}

class MIDIPortsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = test::JackServer::start(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    mainThread_ = std::this_thread::get_id();
    ports_ = MIDIPorts::create();
    ports_->setOnPortsChanged([this] {
      if (std::this_thread::get_id() != mainThread_) changedOffMain_ = true;
      ++portsChanged_;
    });
    ports_->setOnMTC([this](const MTCDecoder::Event& event, const std::string& name) {
      std::lock_guard<std::mutex> guard(mutex_);
      events_.emplace_back(event, name);
    });
  }

  std::vector<std::pair<MTCDecoder::Event, std::string>> events() {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
  }
  bool heard(const MidiTestClient& client, int output) {
    return jack_port_connected(client.output(output)) > 0;
  }

  static inline std::unique_ptr<test::JackServer> server_;
  test::MainQueue main_;
  std::thread::id mainThread_;
  std::shared_ptr<MIDIPorts> ports_;
  int portsChanged_ = 0;
  bool changedOffMain_ = false;
  std::mutex mutex_;
  std::vector<std::pair<MTCDecoder::Event, std::string>> events_;  // guarded by mutex_
};

TEST_F(MIDIPortsTest, ListsOtherProgramsPortsButNeverItsOwn) {
  const MIDIPort virtualSourceEntry{ports_->virtualDestination(), "Virtual port"};
  const MIDIPort virtualDestinationEntry{ports_->virtualSource(), "Virtual port"};
  ASSERT_NE(ports_->virtualSource(), 0u);
  ASSERT_NE(ports_->virtualDestination(), ports_->virtualSource());
  EXPECT_EQ(ports_->sources(), std::vector<MIDIPort>{virtualSourceEntry});
  EXPECT_EQ(ports_->destinations(), std::vector<MIDIPort>{virtualDestinationEntry});
  {
    MidiTestClient other("lister", 1, 1);
    ASSERT_TRUE(main_.drainUntil([&] { return portsChanged_ > 0 && ports_->sources().size() == 2; }));
    const auto sources = ports_->sources();
    const auto destinations = ports_->destinations();
    ASSERT_EQ(destinations.size(), 2u);
    EXPECT_EQ(sources[0], virtualSourceEntry);
    EXPECT_EQ(sources[1].name, "lister:out1");
    EXPECT_EQ(destinations[0], virtualDestinationEntry);
    EXPECT_EQ(destinations[1].name, "lister:in1");
    // PipeWire makes the connection a moment after jack_connect returned.
    EXPECT_TRUE(main_.drainUntil([&] { return heard(other, 0); })) << "a new source is connected by itself";
  }
  const int before = portsChanged_;
  EXPECT_TRUE(main_.drainUntil([&] { return portsChanged_ > before && ports_->sources().size() == 1; }));
  EXPECT_EQ(ports_->destinations().size(), 1u);
  EXPECT_FALSE(changedOffMain_);

  // A source that left gave its input port back: sources that come and go one at a time are each heard
  // through the same one, however many there are over a long run.
  for (int i = 0; i < 12; ++i) {
    MidiTestClient passing("passing " + std::to_string(i), 0, 1);
    ASSERT_TRUE(main_.drainUntil([&] { return heard(passing, 0); })) << i;
  }
  MidiTestClient looker("looker", 0, 0);
  const char** inputs = jack_get_ports(looker.jack(), (ports_->clientName() + ":Input ").c_str(),
                                       JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
  std::size_t count = 0;
  for (const char** p = inputs; p && *p; ++p) ++count;
  jack_free(inputs);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(ports_->unheardSources(), 0u);
}

TEST_F(MIDIPortsTest, DecodesANewSourceAndNamesItsEventsAfterEveryRename) {
  MidiTestClient other("desk", 0, 1);
  ASSERT_TRUE(main_.drainUntil([&] { return heard(other, 0); }));
  const std::uint32_t ref = ports_->sources().at(1).ref;
  const Timecode label{1, 2, 3, 4};

  auto sendAndExpectName = [&](const std::string& name) {
    const std::size_t before = events().size();
    other.send(0, bytes(MTC::fullFrame(label, FrameRate::fps25)));
    ASSERT_TRUE(main_.drainUntil([&] { return events().size() == before + 1; })) << name;
    const auto [event, source] = events().back();
    ASSERT_NE(event.asFullFrame(), nullptr);
    EXPECT_EQ(event.asFullFrame()->timecode, label);
    EXPECT_EQ(source, name);
  };
  sendAndExpectName("desk:out1");

  int before = portsChanged_;
  ASSERT_EQ(jack_port_rename(other.jack(), other.output(0), "timecode"), 0);
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
    jack_set_property(other.jack(), jack_port_uuid(other.output(0)), JACK_METADATA_PRETTY_NAME, "Desk MTC",
                      "text/plain");
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
  EXPECT_FALSE(changedOffMain_);
  // JACK reuses port identities and keeps their metadata: leave no pretty name for the next port.
  const std::lock_guard<std::mutex> guard(jackMetadataMutex());
  jack_remove_property(other.jack(), jack_port_uuid(other.output(0)), JACK_METADATA_PRETTY_NAME);
}

TEST_F(MIDIPortsTest, HearsTheVirtualDestinationAsVirtualPortStampedWithTheFramesHostTime) {
  MidiTestClient other("sender", 0, 1);
  ASSERT_EQ(jack_connect(other.jack(), other.outputName(0).c_str(), "Quillmark:Virtual in"), 0);
  // The frame-to-time lines (ours and the sender's) are fitted to wake-ups and move by more than a sample
  // while their first second of history fills; the exactness judged below is that of a settled line.
  const double settled = HostTime::now() + 1.0;
  ASSERT_TRUE(test::waitFor([&] { return HostTime::now() > settled; }, 2.0));
  for (const auto& message : quarterFrameGroup(90000, FrameRate::fps25)) other.send(0, message);
  ASSERT_TRUE(main_.drainUntil([&] { return !events().empty(); }));
  const double receivedAt = HostTime::now();

  const auto [event, source] = events().front();
  EXPECT_EQ(source, "Virtual port");
  ASSERT_NE(event.asSequence(), nullptr);
  EXPECT_EQ(event.asSequence()->timecode, (Timecode{1, 0, 0, 0}));
  EXPECT_FALSE(event.asSequence()->reverse);
  // Frames are exact: each piece's stamp lies as many sample periods after the one before as the sender
  // wrote frames between them. A stamp one frame off is out by a whole period; only where our
  // frame-to-time line takes in an earlier wake-up (often in its first half second) may a gap be off by
  // a sample or two, and not often.
  const std::vector<MidiTestClient::Event> sent = other.sent(0);
  ASSERT_EQ(sent.size(), 8u);
  const double period = 1.0 / jack_get_sample_rate(other.jack());
  const auto& times = event.asSequence()->quarterTimes;
  int moved = 0;
  for (int piece = 1; piece < 8; ++piece) {
    const double error = std::fabs(times[piece] - times[piece - 1] -
                                   static_cast<double>(sent[piece].frame - sent[piece - 1].frame) * period);
    EXPECT_LT(error, 2 * period) << "piece " << piece;
    if (error > period / 2) ++moved;
  }
  EXPECT_LE(moved, 2) << "stamps off their frames";
  // On the host clock: the sender's own line puts those frames within two clients' wake-up spread of the
  // stamps (JACK's own clock is hundreds of milliseconds from the host clock here). Sanitizer builds are
  // too slow for a fraction of a millisecond.
  if (test::allocationCountingAvailable()) {
    for (int piece = 0; piece < 8; ++piece) {
      EXPECT_NEAR(times[piece], sent[piece].host, 300e-6) << "piece " << piece;
    }
  }
  EXPECT_LT(std::fabs(receivedAt - event.asSequence()->quarterTimes[7]), 0.5);
}

TEST_F(MIDIPortsTest, StampsASourcesEventsWhenTheyEnteredTheGraphLessItsCaptureLatency) {
  // A keyboard whose events reach JACK a tenth of a second (at 48 kHz) after they were played.
  constexpr jack_nframes_t kLatency = 4800;
  MidiTestClient other("keyboard", 0, 1, 0, kLatency);
  ASSERT_TRUE(main_.drainUntil([&] { return heard(other, 0); }));
  const double settled = HostTime::now() + 1.0;  // as above: settled frame-to-time lines
  ASSERT_TRUE(test::waitFor([&] { return HostTime::now() > settled; }, 2.0));
  for (const auto& message : quarterFrameGroup(90000, FrameRate::fps25)) other.send(0, message);
  ASSERT_TRUE(main_.drainUntil([&] { return !events().empty(); }));

  const auto [event, source] = events().front();
  ASSERT_NE(event.asSequence(), nullptr);
  const std::vector<MidiTestClient::Event> sent = other.sent(0);
  ASSERT_EQ(sent.size(), 8u);
  const double latency = kLatency / static_cast<double>(jack_get_sample_rate(other.jack()));
  // Sanitizer builds wake up too unevenly for a fraction of a millisecond; a stamp that kept the latency
  // is out by all of it either way.
  const double tolerance = test::allocationCountingAvailable() ? 300e-6 : 5e-3;
  for (int piece = 0; piece < 8; ++piece) {
    EXPECT_NEAR(event.asSequence()->quarterTimes[piece], sent[piece].host - latency, tolerance) << piece;
  }
}

TEST_F(MIDIPortsTest, DecodesInterleavedQuarterFramesOfTwoSourcesIndependently) {
  MidiTestClient other("pair", 0, 2);
  ASSERT_TRUE(main_.drainUntil([&] { return heard(other, 0) && heard(other, 1); }));
  const auto first = quarterFrameGroup(90000, FrameRate::fps25);    // 01:00:00:00
  const auto second = quarterFrameGroup(180000, FrameRate::fps25);  // 02:00:00:00
  for (int piece = 0; piece < 8; ++piece) {
    other.send(0, first[piece]);  // one message per output per cycle: the sources alternate
    other.send(1, second[piece]);
  }
  ASSERT_TRUE(main_.drainUntil([&] { return events().size() == 2 && other.allSent(); }));
  std::map<std::string, Timecode> decoded;
  for (const auto& [event, source] : events()) {
    ASSERT_NE(event.asSequence(), nullptr);
    decoded[source] = event.asSequence()->timecode;
  }
  EXPECT_EQ(decoded["pair:out1"], (Timecode{1, 0, 0, 0}));
  EXPECT_EQ(decoded["pair:out2"], (Timecode{2, 0, 0, 0}));
}

TEST(MIDIPortsRules, KeepsPlausiblePacketTimesAndReplacesTheRestByNow) {
  const double now = 1000.0;
  EXPECT_EQ(MIDIPorts::packetTime(now + 0.999, now), now + 0.999);
  EXPECT_EQ(MIDIPorts::packetTime(now - 0.5, now), now - 0.5);
  EXPECT_EQ(MIDIPorts::packetTime(now + 2.0, now), now);
  EXPECT_EQ(MIDIPorts::packetTime(now - 1.0, now), now);
}

TEST(MIDIPortsRules, NamesAnEndpointByPrettyNameElsePortNameElseMIDI) {
  EXPECT_EQ(MIDIPorts::displayName("Desk MTC", "desk:out1"), "Desk MTC");
  EXPECT_EQ(MIDIPorts::displayName("", "desk:out1"), "desk:out1");
  EXPECT_EQ(MIDIPorts::displayName(nullptr, ""), "MIDI");
}

}  // namespace
}  // namespace quillmark
