// JackClient on a real, isolated JACK server: what happens to a cycle still running when the server goes.

#include "jack/jack_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/support/jack_server.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {
namespace {

// What the held process callback and the destroying thread note, in the order they did it.
struct Cycle {
  std::atomic<bool> hold{false};
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  std::atomic<int> sequence{0};
  std::atomic<int> callbackLeft{-1};
  std::atomic<int> destructorReturned{-1};
};

int heldProcess(jack_nframes_t, void* arg) noexcept {
  auto& cycle = *static_cast<Cycle*>(arg);
  if (!cycle.hold.load()) return 0;
  cycle.inside.store(true);
  // Bounded, so a broken test cannot hang the process thread for good.
  waitFor([&] { return cycle.release.load(); }, 10.0);
  cycle.callbackLeft.store(cycle.sequence.fetch_add(1));
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

  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    client.reset();
    cycle->destructorReturned.store(cycle->sequence.fetch_add(1));
    destroyed.store(true);
  });
  // Give a destructor that does not wait every chance to return first.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  cycle->release.store(true);
  EXPECT_TRUE(waitFor([&] { return destroyed.load(); }, 5.0));
  destroyer.join();

  EXPECT_EQ(cycle->callbackLeft.load(), 0);
  EXPECT_EQ(cycle->destructorReturned.load(), 1) << "the client was freed while its cycle ran";
  server.restart();
}

}  // namespace
}  // namespace quillmark::test
