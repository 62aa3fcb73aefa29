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
#include "tests/midi/simulated_wire.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/main_queue.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark {
namespace {

using Event = test::MidiEvent;

// A clock running from 01:00:00:00 at 25 fps at host time `at`, whose input goes on for the whole test.
ClockSnapshot running(double at) {
  return test::runningClock(FrameRate::fps25, 90000.0, at, at + 1e6);
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
  std::int64_t index = 4 * test::fullFrameLabel(events[0].bytes).frameNumber(FrameRate::fps25) + 1;
  while (index % 8 != events[1].bytes[1] >> 4) ++index;
  return index;
}

// The host time at which quarter frame `index` is due: when `clock` reaches its label less the `offset` in
// frames, `lead` seconds early.
double dueOf(const ClockSnapshot& clock, std::int64_t index, double lead, double offset) {
  return clock.fitTime + (static_cast<double>(index) / 4.0 - offset - clock.fitPosition) / clock.slope - lead;
}

class MTCOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::sharedServer();
    // Marks the process thread, and also libjack's notification thread, whose graph callbacks may
    // allocate: allocations are judged only in runs without graph changes (cleanRun).
    ports_ = MIDIPorts::create(main_.context(), [] { test::setRealtimeThread(true); });
    receiver_ = std::make_unique<test::TestClient>("receiver");
    receiver_->addMidiIn("in1");
    receiver_->addMidiIn("in2");
    receiver_->activate();
    output_ = std::make_unique<MTCOutput>(ports_);
    output_->setClock([this] {
      test::setRealtimeThread(true);  // called on the sender thread at the start of every pass
      return clock_.read();
    });
  }

  std::uint32_t destination(const std::string& portName) {
    for (const MIDIPort& port : ports_->destinations()) {
      if (port.name == portName) return port.ref;
    }
    return 0;
  }
  std::uint32_t destination(int input) { return destination(receiver_->port(input)); }
  void setClock(const ClockSnapshot& snapshot) {
    clock_.withLock([&](ClockSnapshot& value) { value = snapshot; });
  }
  // Waits until input `input` holds at least `count` messages.
  bool receive(int input, std::size_t count, double seconds = 5.0) {
    return test::waitFor([&] { return receiver_->received(input).size() >= count; }, seconds);
  }
  // Waits for the sender loop to end and for what it handed over to go out (0.1 s, several periods: the
  // longest hand-over is one).
  bool loopEndedAndDrained() {
    if (!test::waitFor([] { return senderThreads() == 0; }, 1.0)) {
      ADD_FAILURE() << "stopping did not end the loop";
      return false;
    }
    const double drained = HostTime::now() + 0.1;
    test::waitFor([&] { return HostTime::now() > drained; }, 1.0);
    return true;
  }
  // Sends to `to` from a clock started now (`clock`) until `listener` holds `count` messages, again (five
  // times at most) until a run had no xrun and no late message, and returns that run's messages; none
  // when every run had one. Each run begins once the last loop ended, messages it handed over have gone
  // out and the listener forgot them. Neither the process thread nor the sender loop may allocate during a
  // run.
  std::vector<Event> cleanRun(test::TestClient& listener, std::uint32_t to, std::size_t count,
                              ClockSnapshot& clock) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      output_->stop();
      if (!loopEndedAndDrained()) return {};
      listener.clear();
      clock = running(HostTime::now());
      setClock(clock);
      const int xruns = listener.xruns();
      const std::uint64_t late = ports_->lateMessages();
      test::resetRealtimeAllocations();
      output_->start(to);
      if (!test::waitFor([&] { return listener.received(0).size() >= count; }, 5.0)) {
        ADD_FAILURE() << "fewer than " << count << " messages arrived";
        return {};
      }
      if (test::allocationCountingAvailable()) {
        EXPECT_EQ(test::realtimeAllocations(), 0u) << "the process thread or the sender loop allocated";
      }
      if (listener.xruns() == xruns && ports_->lateMessages() == late) return listener.received(0);
    }
    return {};
  }

  test::MainQueue main_;
  std::shared_ptr<MIDIPorts> ports_;
  std::unique_ptr<test::TestClient> receiver_;
  Locked<ClockSnapshot> clock_;
  std::unique_ptr<MTCOutput> output_;
};

// From 01:00:00:00 at 25 fps: a full frame (the frame in progress), then the quarter frames in order, each
// on the frame of its due time, which a lead moves earlier and an offset moves to a later label. A
// destination that sounds 2048 frames (43 ms) after a message arrives gets each message that much before its
// due time, once JACK's latency pass has told the ports, so that it is heard on time.
TEST_F(MTCOutputTest,
       StartsWithAFullFrameThenEveryQuarterFrameIsHeardOnItsDueFrameWithLeadOffsetOrPlaybackLatency) {
  const double sample = 1.0 / 48000.0;
  test::TestClient late("late", 0, 2048);
  late.addMidiIn("in1");
  late.activate();
  struct Run {
    test::TestClient& listener;
    std::uint32_t to;
    double lead;
    double latency;
    double offset = 0.0;  // frames
  };
  for (const Run& run :
       {Run{*receiver_, destination(0), 0.0, 0.0}, Run{*receiver_, destination(0), 0.02, 0.0, 2.0},
        Run{late, destination(late.port(0)), 0.0, 2048 * sample}}) {
    const std::string what = "lead " + std::to_string(run.lead) + ", latency " + std::to_string(run.latency) +
                             ", offset " + std::to_string(run.offset);
    if (run.latency > 0) {
      // What the latency changes is judged on the host clock, which sanitizer builds are too slow for.
      if (!test::allocationCountingAvailable()) continue;
      output_->start(run.to);
      output_->stop();
      ASSERT_TRUE(test::waitFor([&] { return ports_->sendAheadHorizon(run.to) > run.latency; }, 2.0))
          << "the destination's latency reached the ports";
    }
    output_->leadTime.store(run.lead);
    output_->offsetFrames.store(run.offset);
    ClockSnapshot clock;
    const std::vector<Event> events = cleanRun(run.listener, run.to, 41, clock);
    ASSERT_FALSE(events.empty()) << what << ": every run had an xrun or a late message";
    ASSERT_TRUE(events[0].isFullFrame());
    const std::vector<std::uint8_t> head(events[0].bytes.begin(), events[0].bytes.begin() + 8);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x00, 0x00}));
    // The latency's 1.07 frames count too: the full frame names the frame in progress when it is heard.
    EXPECT_LE(events[0].bytes[8], (run.latency > 0 ? 5 : 3) + run.offset)
        << what << ": the frame in progress when sending began";
    std::int64_t index = firstQuarterIndex(events);
    int moved = 0;
    std::vector<double> heardErrors;
    for (std::size_t i = 1; i < events.size(); ++i, ++index) {
      const auto expected = MTC::quarterFrame(index, FrameRate::fps25);
      EXPECT_EQ(events[i].bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()))
          << what << ", " << i;
      heardErrors.push_back(events[i].host + run.latency - dueOf(clock, index, run.lead, run.offset));
      if (i == 1) continue;
      // Frames are exact: a message lands as many frames after the one before it as its due time lies
      // after that one's, give or take the half sample each was rounded by. The sender's frame-to-time
      // line follows the server's cycle-time filter, which still settles in a new server's first
      // second; on a busy machine it may move by up to three samples when the sender takes in a new
      // half second (every 0.5 s, and at earlier wake-ups in its first half second), so a few gaps may
      // be off by that much. Placing on cycle boundaries instead would be off by hundreds.
      const double apart = static_cast<double>(events[i].frame - events[i - 1].frame) * sample;
      const double error = std::fabs(apart - (dueOf(clock, index, run.lead, run.offset) -
                                              dueOf(clock, index - 1, run.lead, run.offset)));
      EXPECT_LT(error, 4 * sample + 5e-6) << what << ", message " << i;
      if (error > sample + 5e-6) ++moved;
    }
    EXPECT_LE(moved, 3) << what << ": messages off their due frame";
    // Heard (arrival plus latency) at the due time, on the host clock through the listener's own young
    // frame-to-time line: within the spread of two clients' wake-ups, judged on the median, which a stall
    // in that line's first second cannot move. Sanitizer builds are too slow for a fraction of a
    // millisecond.
    std::nth_element(heardErrors.begin(), heardErrors.begin() + heardErrors.size() / 2, heardErrors.end());
    if (test::allocationCountingAvailable()) {
      EXPECT_NEAR(heardErrors[heardErrors.size() / 2], 0.0, 300e-6) << what << ": heard off the due time";
    }
  }
}

// A port nobody hears yet (a connection asked for at launch takes effect cycles later on a busy machine)
// would swallow the opening full frame: the output begins once the port is heard. An output without a
// clock sends nothing at all. A second start switches the destination in the running loop, a stop
// followed at once by a start never leaves two loops, which would interleave two sequences, and a stop
// stops the sending at once.
TEST_F(MTCOutputTest, BeginsWithAClockOnceItsPortIsHeardAndRestartsNeverMakeASecondLoopOrFullFrame) {
  auto idle = std::make_unique<MTCOutput>(ports_);
  idle->start(destination(0));
  setClock(running(HostTime::now()));
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
  EXPECT_EQ(output_->fullFramesSent(), 1u) << "switching the destination";
  const std::size_t onVirtual = receiver_->received(0).size();
  ASSERT_TRUE(receive(1, 20));
  EXPECT_EQ(receiver_->received(0).size(), onVirtual) << "the virtual source no longer carries it";

  for (int i = 0; i < 20; ++i) {
    output_->stop();
    output_->start(destination(1));
    EXPECT_LE(senderThreads(), 1) << i;
  }
  // One loop sends its full frame and then rising pieces.
  const std::size_t mark = receiver_->received(1).size();
  ASSERT_TRUE(receive(1, mark + 40));
  const std::vector<Event> events = receiver_->received(1);
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

  // A stopped output hands over nothing more. What goes out after stop() returned was handed over before,
  // so it is due within the hand-over horizon of that moment; a pass that was still waiting would send a
  // message up to a quarter frame later, to whatever the port is connected to by then.
  const double slack = test::allocationCountingAvailable() ? 1e-3 : 3e-3;  // stamps, and the margin
  for (int run = 0; run < 3; ++run) {
    if (run > 0) output_->start(destination(1));
    ASSERT_TRUE(receive(1, receiver_->received(1).size() + 8));
    const std::uint64_t late = ports_->lateMessages();
    output_->stop();
    const double lastDue = HostTime::now() + ports_->sendAheadHorizon(destination(1)) + slack;
    ASSERT_TRUE(loopEndedAndDrained());
    if (ports_->lateMessages() != late) continue;  // written after its due time: proves nothing
    for (const Event& event : receiver_->received(1)) {
      EXPECT_LE(event.host, lastDue) << "run " << run << ": a message handed over after stop()";
    }
  }
}

}  // namespace
}  // namespace quillmark
