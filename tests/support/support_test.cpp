// The test helpers themselves: the allocation counter must see allocations, and the isolated JACK server
// must start, accept clients, and come back after a kill.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/alloc_counter.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {
namespace {

TEST(AllocCounter, CountsOnlyAllocationsOfMarkedThreads) {
  if (!allocationCountingAvailable()) GTEST_SKIP() << "sanitizer build keeps its own allocator";
  resetRealtimeAllocations();
  auto unmarked = std::make_unique<int>(1);
  EXPECT_EQ(realtimeAllocations(), 0u);
  {
    RealtimeScope scope;
    auto marked = std::make_unique<int>(2);
    EXPECT_EQ(realtimeAllocations(), 1u);
  }
  auto after = std::make_unique<int>(3);
  EXPECT_EQ(realtimeAllocations(), 1u);
}

TEST(JackServer, AcceptsClientsAndComesBackAfterAKill) {
  auto server = JackServer::start();
  jack_client_t* client = openTestClient("support-test");
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(jack_get_sample_rate(client), 48000u);
  EXPECT_EQ(jack_get_buffer_size(client), 1024u);
  jack_client_close(client);

  server->kill();
  EXPECT_EQ(openTestClient("support-test-dead"), nullptr);
  server->restart();
  client = openTestClient("support-test-again");
  ASSERT_NE(client, nullptr);
  jack_client_close(client);
}

}  // namespace
}  // namespace quillmark::test
