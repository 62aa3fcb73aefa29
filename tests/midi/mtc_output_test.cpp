// MTCOutput on a real, isolated JACK server: what it sends, and the frame each message lands on, checked
// by a MIDI client the test plays. Timing is judged only over stretches without xruns or late messages.
#include "midi/mtc_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

#include "core/host_time.h"
#include "core/locked.h"
#include "midi/mtc.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/main_queue.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using Event = test::MidiEvent;

// A MIDI program with inputs "in1" ... (ports 0 ...), heard `playback` frames after events arrive.
std::unique_ptr<test::TestClient> listener(const std::string& name, int inputs, jack_nframes_t playback = 0) {
  auto client = std::make_unique<test::TestClient>(name, 0, playback);
  for (int i = 1; i <= inputs; ++i) client->addMidiIn("in" + std::to_string(i));
  client->activate();
  return client;
}

// A clock that has locked and keeps receiving: `position` frames at host time `at`, at nominal speed.
ClockSnapshot running(FrameRate rate, double position, double at) {
  ClockSnapshot snapshot;
  snapshot.rate = rate;
  snapshot.lastInput = at + 1e6;
  snapshot.fitTime = at;
  snapshot.fitPosition = position;
  snapshot.slope = realFramesPerSecond(rate);
  snapshot.hasLocked = true;
  snapshot.freewheelDuration = 2.0;
  return snapshot;
}

int senderThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name == "MTC output") ++count;
  }
  return count;
}

// The index of events[1], the first quarter frame after the full frame events[0]: it starts the next
// quarter after the full frame's position, so it is the one index in 4n+1 ... 4n+4 whose piece it carries.
std::int64_t firstQuarterIndex(const std::vector<Event>& events) {
  const Timecode label{events[0].bytes[5] & 0x1F, events[0].bytes[6], events[0].bytes[7], events[0].bytes[8]};
  std::int64_t index = 4 * label.frameNumber(FrameRate::fps25) + 1;
  while (index % 8 != events[1].bytes[1] >> 4) ++index;
  return index;
}

int fullFrames(const std::vector<Event>& events, std::size_t from = 0) {
  int count = 0;
  for (std::size_t i = from; i < events.size(); ++i) count += events[i].isFullFrame();
  return count;
}

class MTCOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::sharedServer();
    // The process thread is marked for the whole test: it must never allocate, whatever the test does.
    ports_ = MIDIPorts::create(main_.context(), [] { test::setRealtimeThread(true); });
    receiver_ = listener("receiver", 2);
    output_ = std::make_unique<MTCOutput>(ports_);
    output_->setClock([this] { return clock_.read(); });
  }
  void TearDown() override { output_.reset(); }

  std::uint32_t destination(int input) {
    for (const MIDIPort& port : ports_->destinations()) {
      if (port.name == receiver_->port(input)) return port.ref;
    }
    return 0;
  }
  void setClock(const ClockSnapshot& snapshot) {
    clock_.withLock([&](ClockSnapshot& value) { value = snapshot; });
  }
  // Stops the output and waits until messages already handed over have gone out, then forgets them.
  void stopAndDrain() {
    output_->stop();
    ASSERT_TRUE(test::waitFor([] { return senderThreads() == 0; }, 1.0));
    const double drained = HostTime::now() + 0.1;  // several periods: the longest hand-over is one
    ASSERT_TRUE(test::waitFor([&] { return HostTime::now() > drained; }, 1.0));
    receiver_->clear();
  }
  // Waits until input `input` holds at least `count` messages.
  bool receive(int input, std::size_t count, double seconds = 5.0) {
    return test::waitFor([&] { return receiver_->received(input).size() >= count; }, seconds);
  }

  test::MainQueue main_;
  std::shared_ptr<MIDIPorts> ports_;
  std::unique_ptr<test::TestClient> receiver_;
  Locked<ClockSnapshot> clock_;
  std::unique_ptr<MTCOutput> output_;
};

// From 01:00:00:00 at 25 fps: a full frame (the frame in progress), then the quarter frames in order, each
// on the frame of its due time, which a lead moves earlier.
TEST_F(MTCOutputTest, StartsWithAFullFrameThenLandsEveryQuarterFrameOnItsDueFrameWithAndWithoutLead) {
  const double sample = 1.0 / 48000.0;
  for (const double lead : {0.0, 0.02}) {
    bool judged = false;
    for (int attempt = 0; attempt < 5 && !judged; ++attempt) {
      stopAndDrain();
      output_->leadTime.store(lead);
      const ClockSnapshot clock = running(FrameRate::fps25, 90000.0, HostTime::now());
      setClock(clock);
      const int xruns = receiver_->xruns();
      const std::uint64_t late = ports_->lateMessages();
      output_->start(destination(0));
      ASSERT_TRUE(receive(0, 41));
      if (receiver_->xruns() != xruns || ports_->lateMessages() != late) continue;  // judge a clean stretch
      judged = true;

      const std::vector<Event> events = receiver_->received(0);
      ASSERT_TRUE(events[0].isFullFrame());
      const std::vector<std::uint8_t> head(events[0].bytes.begin(), events[0].bytes.begin() + 8);
      EXPECT_EQ(head, (std::vector<std::uint8_t>{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x00, 0x00}));
      EXPECT_LE(events[0].bytes[8], 3) << "the frame in progress when sending began";
      std::int64_t index = firstQuarterIndex(events);
      auto dueOf = [&](std::int64_t i) {
        return clock.fitTime + (static_cast<double>(i) / 4.0 - clock.fitPosition) / clock.slope - lead;
      };
      const std::int64_t firstIndex = index;
      int moved = 0;
      for (std::size_t i = 1; i < events.size(); ++i, ++index) {
        const auto expected = MTC::quarterFrame(index, FrameRate::fps25);
        EXPECT_EQ(events[i].bytes, std::vector<std::uint8_t>(expected.begin(), expected.end())) << i;
        if (i == 1) continue;
        // Frames are exact: a message lands as many frames after the one before it as its due time lies
        // after that one's, give or take the half sample each was rounded by. The sender's frame-to-time
        // line follows the server's cycle-time filter, which still settles in a new server's first
        // second; on a busy machine it may move by up to three samples when the sender takes in a new
        // half second (every 0.5 s, and at earlier wake-ups in its first half second), so a few gaps may
        // be off by that much. Placing on cycle boundaries instead would be off by hundreds.
        const double apart = static_cast<double>(events[i].frame - events[i - 1].frame) * sample;
        const double error = std::fabs(apart - (dueOf(index) - dueOf(index - 1)));
        EXPECT_LT(error, 4 * sample + 5e-6) << "lead " << lead << ", message " << i;
        if (error > sample + 5e-6) ++moved;
      }
      EXPECT_LE(moved, 3) << "lead " << lead << ": messages off their due frame";
      // On the host clock, through the receiver's own line: within the spread of two clients' wake-ups.
      // Sanitizer builds are too slow for a fraction of a millisecond.
      if (test::allocationCountingAvailable()) {
        EXPECT_NEAR(events[1].host, dueOf(firstIndex), 300e-6) << "lead " << lead;
      }
    }
    EXPECT_TRUE(judged) << "every attempt had an xrun or a late message";
  }
}

// A destination that sounds 2048 frames (43 ms) after a message arrives gets each message that much
// before its due time, once JACK's latency pass has told the ports.
TEST_F(MTCOutputTest, HandsEachMessageOverEarlyByTheDestinationsPlaybackLatency) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "sanitizer builds are too slow for 0.3 ms";
  constexpr double kLatency = 2048 / 48000.0;
  const auto late = listener("late", 1, 2048);
  std::uint32_t to = 0;
  for (const MIDIPort& port : ports_->destinations()) {
    if (port.name == late->port(0)) to = port.ref;
  }
  ASSERT_NE(to, 0u);
  output_->start(to);
  output_->stop();
  ASSERT_TRUE(test::waitFor([&] { return ports_->sendAheadHorizon(to) > kLatency; }, 2.0))
      << "the destination's latency reached the ports";
  bool judged = false;
  for (int attempt = 0; attempt < 5 && !judged; ++attempt) {
    ASSERT_TRUE(test::waitFor([] { return senderThreads() == 0; }, 1.0));
    late->clear();
    const ClockSnapshot clock = running(FrameRate::fps25, 90000.0, HostTime::now());
    setClock(clock);
    const int xruns = late->xruns();
    const std::uint64_t lateMessages = ports_->lateMessages();
    output_->start(to);
    ASSERT_TRUE(test::waitFor([&] { return late->received(0).size() >= 21; }, 5.0));
    output_->stop();
    if (late->xruns() != xruns || ports_->lateMessages() != lateMessages) continue;
    judged = true;
    const std::vector<Event> events = late->received(0);
    // Heard (arrival plus latency) at the due time, as far as the receiver's young frame-to-time line
    // tells: judged on the median, which a stall in that line's first second cannot move.
    std::int64_t index = firstQuarterIndex(events);
    std::vector<double> errors;
    for (std::size_t i = 1; i < events.size(); ++i, ++index) {
      const double due = clock.fitTime + (static_cast<double>(index) / 4.0 - clock.fitPosition) / clock.slope;
      errors.push_back(events[i].host + kLatency - due);
    }
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_NEAR(errors[errors.size() / 2], 0.0, 300e-6);
  }
  EXPECT_TRUE(judged) << "every attempt had an xrun or a late message";
}

TEST_F(MTCOutputTest, StopsWhenFreewheelEndsAndResumesWithAFullFrame) {
  const double start = HostTime::now();
  ClockSnapshot clock = running(FrameRate::fps25, 90000.0, start);
  clock.lastInput = start;  // input stops now; 0.1 s window plus 0.3 s freewheel
  clock.freewheelDuration = 0.3;
  setClock(clock);
  output_->start(destination(0));
  ASSERT_TRUE(test::waitFor([&] { return HostTime::now() > start + 0.6; }, 2.0));
  const std::size_t mark = receiver_->received(0).size();
  EXPECT_GT(mark, 10u);
  EXPECT_FALSE(receive(0, mark + 1, 0.3)) << "nothing after freewheel ended";

  setClock(running(FrameRate::fps25, 95000.0, HostTime::now()));
  ASSERT_TRUE(receive(0, mark + 5));
  EXPECT_TRUE(receiver_->received(0)[mark].isFullFrame());
}

// A port nobody hears yet (a connection asked for at launch takes effect cycles later on a busy machine)
// would swallow the opening full frame: the output begins once the port is heard. An output without a
// clock sends nothing at all.
TEST_F(MTCOutputTest,
       BeginsWithAClockOnceItsPortIsHeardAndASecondStartSwitchesTheDestinationWithoutANewLoopOrFullFrame) {
  auto idle = std::make_unique<MTCOutput>(ports_);
  idle->start(destination(0));
  setClock(running(FrameRate::fps25, 90000.0, HostTime::now()));
  output_->start(ports_->virtualSource());
  EXPECT_FALSE(test::waitFor([&] { return output_->quarterFramesSent() > 0; }, 0.3)) << "nobody listens yet";
  EXPECT_EQ(idle->fullFramesSent() + idle->quarterFramesSent(), 0u);
  EXPECT_TRUE(receiver_->received(0).empty()) << "sent without a clock";
  idle.reset();
  ASSERT_EQ(jack_connect(receiver_->get(), "Quillmark:Virtual out", receiver_->port(0).c_str()), 0);
  ASSERT_TRUE(receive(0, 10)) << "published on the virtual source";
  EXPECT_TRUE(receiver_->received(0)[0].isFullFrame());
  EXPECT_EQ(output_->fullFramesSent(), 1u);

  output_->start(destination(1));
  ASSERT_TRUE(receive(1, 10));
  EXPECT_EQ(senderThreads(), 1);
  EXPECT_EQ(fullFrames(receiver_->received(1)), 0);
  const std::size_t onVirtual = receiver_->received(0).size();
  ASSERT_TRUE(receive(1, 20));
  EXPECT_EQ(receiver_->received(0).size(), onVirtual) << "the virtual source no longer carries it";
}

TEST_F(MTCOutputTest, AQuickStopAndStartNeverLeavesTwoLoops) {
  setClock(running(FrameRate::fps25, 90000.0, HostTime::now()));
  output_->start(destination(0));
  for (int i = 0; i < 20; ++i) {
    output_->stop();
    output_->start(destination(0));
    EXPECT_LE(senderThreads(), 1) << i;
  }
  // Two loops would interleave two sequences; one loop sends its full frame and then rising pieces.
  const std::size_t mark = receiver_->received(0).size();
  ASSERT_TRUE(receive(0, mark + 40));
  const std::vector<Event> events = receiver_->received(0);
  std::size_t last = events.size();
  while (last > 0 && !events[last - 1].isFullFrame()) --last;
  ASSERT_GT(last, 0u);
  ASSERT_GT(events.size() - last, 20u) << "quarter frames follow the last start's full frame";
  for (std::size_t i = last + 1; i < events.size(); ++i) {
    ASSERT_TRUE(events[i].isQuarterFrame());
    if (i > last + 1) {
      EXPECT_EQ(events[i].bytes[1] >> 4, ((events[i - 1].bytes[1] >> 4) + 1) % 8) << i;
    }
  }
  output_->stop();
  EXPECT_TRUE(test::waitFor([] { return senderThreads() == 0; }, 1.0)) << "stopping ends the loop";
}

TEST_F(MTCOutputTest, NeitherTheProcessCallbackNorTheSenderLoopAllocates) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "sanitizer build keeps its own allocator";
  test::TestClient source("source");
  source.addMidiOut("out1");
  source.activate();
  ASSERT_EQ(jack_connect(source.get(), source.port(0).c_str(), "Quillmark:Virtual in"), 0);
  output_->setClock([this] {
    test::setRealtimeThread(true);  // called on the sender thread at the start of every pass
    return clock_.read();
  });
  setClock(running(FrameRate::fps25, 90000.0, HostTime::now()));
  test::resetRealtimeAllocations();
  output_->start(destination(0));
  for (int frame = 0; frame < 16; ++frame) {
    const auto message = MTC::quarterFrame(4 * 90000 + frame, FrameRate::fps25);
    source.send(0, std::vector<std::uint8_t>(message.begin(), message.end()));
  }
  ASSERT_TRUE(receive(0, 50));
  ASSERT_TRUE(test::waitFor([&] { return source.allSent(); }, 2.0));
  output_->stop();
  EXPECT_EQ(test::realtimeAllocations(), 0u);
}

}  // namespace
}  // namespace quillmark
