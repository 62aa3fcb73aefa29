// JackClient on a real, isolated JACK server: what happens to a cycle still running when the server goes, and
// that its cycles run on while one of its notification callbacks is busy.

#include "jack/jack_client.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "jack/jack_configuration_watch.h"
#include "tests/support/jack_server.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {
namespace {

// What the held process callback and the destroying thread note.
struct Cycle {
  std::atomic<bool> hold{false};
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  std::atomic<bool> left{false};
};

int heldProcess(jack_nframes_t, void* arg) noexcept {
  auto& cycle = *static_cast<Cycle*>(arg);
  if (!cycle.hold.load()) return 0;
  cycle.inside.store(true);
  // Bounded, so a broken test cannot hang the process thread for good.
  waitFor([&] { return cycle.release.load(); }, 10.0);
  cycle.left.store(true);
  return 0;
}

TEST(JackClient, AbandonedWithItsServerWaitsForTheCycleStillInsideItsCallback) {
  JackServer& server = sharedServer();
  auto cycle = std::make_shared<Cycle>();  // outlives the abandoned client's thread
  std::unique_ptr<JackClient> client = JackClient::open("Quillmark held");
  ASSERT_NE(client, nullptr);
  ASSERT_EQ(client->setProcessCallback(heldProcess, cycle.get()), 0);
  ASSERT_EQ(jack_activate(client->get()), 0);

  cycle->hold.store(true);
  ASSERT_TRUE(waitFor([&] { return cycle->inside.load(); }, 5.0));
  // The server dies while the cycle is inside our callback; the client can only be abandoned now.
  server.kill();
  client->noteServerGone();

  // The destructor waits for the cycle, boundedly (half a second), so the join cannot hang.
  bool cycleLeftFirst = false;
  std::thread destroyer([&] {
    client.reset();
    cycleLeftFirst = cycle->left.load();
  });
  // Give a destructor that does not wait every chance to return first.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  cycle->release.store(true);
  destroyer.join();
  EXPECT_TRUE(cycleLeftFirst) << "the client was freed while its cycle ran";
  server.restart();
}

// A run that ends as its server dies abandons its client and frees it and the run's configuration watch,
// possibly before libjack's thread delivers the shutdown notice. The late notice must find live state (the
// asan stage sees any use of the freed watch) and still reach the client's flag, not the gone watch.
TEST(JackClient, AShutdownNoticeArrivingAfterItsAbandonedRunWasFreedTouchesOnlyLiveState) {
  if (JackServer::onPipeWire())
    GTEST_SKIP() << "PipeWire's libjack sends no shutdown notice when the daemon dies";
  auto server = JackServer::start();
  std::unique_ptr<JackClient> client = JackClient::open("Quillmark late");
  ASSERT_NE(client, nullptr);
  std::atomic<int> notices{0};
  auto watch = std::make_unique<JackConfigurationWatch>(*client, [&] { ++notices; });
  ASSERT_EQ(jack_activate(client->get()), 0);
  const std::shared_ptr<std::atomic<bool>> serverGone = client->serverGoneFlag();
  JackClient::noteServerGoneForAllOpen();  // as when the server watch finds it gone first
  client.reset();
  watch.reset();
  server->kill();
  EXPECT_TRUE(waitFor([&] { return serverGone->load(); }, 5.0)) << "no shutdown notice came";
  EXPECT_EQ(notices.load(), 0);
}

// A notification callback of ours that takes its time holds no process cycle back. jackd runs the two on
// separate threads; PipeWire's libjack skips every cycle that begins while a callback runs, unless the client
// was opened with its callbacks unlocked, which openJackClient sees to.
TEST(JackClient, KeepsItsCyclesRunningWhileOneOfItsNotificationCallbacksIsBusy) {
  auto server = JackServer::start();
  ::unsetenv("PIPEWIRE_PROPS");  // as in a user's session, not as the test server sets it for its own clients
  struct Counts {
    std::atomic<int> cycles{0};
    std::atomic<bool> held{false};
    std::atomic<int> cyclesWhileHeld{-1};
  } counts;
  std::unique_ptr<JackClient> client = JackClient::open("Quillmark busy");
  ASSERT_NE(client, nullptr);
  ASSERT_EQ(client->setProcessCallback(
                [](jack_nframes_t, void* c) { return ++static_cast<Counts*>(c)->cycles, 0; }, &counts),
            0);
  jack_set_port_registration_callback(
      client->get(),
      [](jack_port_id_t, int registered, void* arg) {
        auto& c = *static_cast<Counts*>(arg);
        if (!registered || c.held.exchange(true)) return;
        const int from = c.cycles.load();
        waitFor([&] { return c.cycles.load() >= from + 5; }, 3.0);
        c.cyclesWhileHeld.store(c.cycles.load() - from);
      },
      &counts);
  ASSERT_EQ(jack_activate(client->get()), 0);
  ASSERT_TRUE(waitFor([&] { return counts.cycles.load() >= 3; }, 5.0));

  TestClient other("port maker");
  other.addAudioOut("out");
  other.activate();
  ASSERT_TRUE(waitFor([&] { return counts.cyclesWhileHeld.load() >= 0; }, 10.0)) << "no registration notice";
  EXPECT_GE(counts.cyclesWhileHeld.load(), 5) << "cycles were skipped while the callback ran";
}

// A test that starts a server of its own leaves the later tests of its process on the suite's shared
// server when its own goes (ctest runs one test per process; a developer runs the whole binary).
TEST(JackServerFixture, AServerOfATestsOwnHandsTheProcessBackToTheSharedOneWhenItGoes) {
  sharedServer();
  JackServer::start().reset();
  EXPECT_NO_THROW(TestClient("after")) << "the shared server is out of reach";
}

TEST(JackClient, UnlocksPipeWireCallbacksBesideTheUsersPropertiesUnlessTheUserChoseForThem) {
  EXPECT_EQ(pipeWirePropsWithUnlockedCallbacks(""), "{ jack.locked-process = false  }");
  EXPECT_EQ(pipeWirePropsWithUnlockedCallbacks(" { node.latency = 256/48000 } "),
            "{ jack.locked-process = false  node.latency = 256/48000  }");
  EXPECT_EQ(pipeWirePropsWithUnlockedCallbacks("node.latency=256/48000"),
            "{ jack.locked-process = false node.latency=256/48000 }");
  EXPECT_EQ(pipeWirePropsWithUnlockedCallbacks("{ jack.locked-process = true }"), std::nullopt);
}

}  // namespace
}  // namespace quillmark::test
