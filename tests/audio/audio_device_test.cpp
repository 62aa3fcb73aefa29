// The device lists on a real JACK graph: clients the test creates appear with their channels in each
// direction, our own clients never do, changes reach the main thread, and without a server the lists are
// simply empty.
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <jack/uuid.h>

#include <memory>
#include <thread>

#include "audio/audio_device.h"
#include "audio/jack_metadata_lock.h"
#include "audio/ltc_input.h"
#include "audio/ltc_output.h"
#include "tests/audio/main_queue.h"
#include "tests/audio/test_interface.h"
#include "tests/support/jack_server.h"

namespace quillmark::test {
namespace {

using Scope = AudioDevice::Scope;

class AudioDeviceTest : public ::testing::Test {
 protected:
  std::unique_ptr<JackServer> server_ = JackServer::start();
  MainQueue main_;
};

TEST_F(AudioDeviceTest, ListsOtherClientsWithTheirChannelsButNeverOursAndDefaultsToTheHardware) {
  auto ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  const auto asInput = findDevice(Scope::input, "Test Interface");
  const auto asOutput = findDevice(Scope::output, "Test Interface");
  ASSERT_TRUE(asInput && asOutput);
  EXPECT_EQ(asInput->channels, 4);
  EXPECT_EQ(asOutput->channels, 2);
  EXPECT_EQ(asInput->id, asOutput->id);
  LTCInput input;
  LTCOutput output;
  input.start(*asInput, 0);
  output.start(*asOutput, {0, 2});
  // The dummy back end's hardware comes first in both directions and owns the physical ports.
  const auto inputs = AudioDevice::all(Scope::input);
  EXPECT_EQ(inputs.at(0).uid, "system");
  EXPECT_EQ(AudioDevice::all(Scope::output).at(0).uid, "system");
  EXPECT_EQ(AudioDevice::defaultDeviceID(Scope::input), inputs[0].id);
  EXPECT_EQ(AudioDevice::defaultDeviceID(Scope::output), inputs[0].id);
  for (auto scope : {Scope::input, Scope::output}) {
    for (const auto& d : AudioDevice::all(scope)) EXPECT_NE(d.uid.rfind("Quillmark", 0), 0u) << d.uid;
  }

  // The pretty name is shown, the client name remembered.
  jack_uuid_t uuid{};
  char* uuidText = jack_get_uuid_for_client_name(ti->client(), "Test Interface");
  ASSERT_EQ(jack_uuid_parse(uuidText, &uuid), 0);
  jack_free(uuidText);
  {
    // libjack's metadata store has no lock of its own; the device list reads it on other threads.
    const std::lock_guard<std::mutex> guard(jackMetadataMutex());
    ASSERT_EQ(jack_set_property(ti->client(), uuid, JACK_METADATA_PRETTY_NAME, "Scarlett", "text/plain"), 0);
  }
  EXPECT_EQ(findDevice(Scope::input, "Test Interface")->name, "Scarlett");
  {
    const std::lock_guard<std::mutex> guard(jackMetadataMutex());
    jack_remove_property(ti->client(), uuid, JACK_METADATA_PRETTY_NAME);
  }

  // A client that leaves and comes back keeps its id, so a running choice stays valid.
  ti.reset();
  EXPECT_FALSE(findDevice(Scope::input, "Test Interface"));
  ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  EXPECT_EQ(findDevice(Scope::input, "Test Interface")->id, asInput->id);
}

TEST_F(AudioDeviceTest, ReportsOnlyRealListChangesOnTheMainThreadAndEmptyListsWithoutAServer) {
  // Registrations are never removed, so the callback keeps its state alive itself.
  struct Seen {
    int calls = 0;
    std::thread::id thread;
  };
  auto seen = std::make_shared<Seen>();
  AudioDevice::observeChanges([seen] {
    ++seen->calls;
    seen->thread = std::this_thread::get_id();
  });
  const int& calls = seen->calls;
  auto ti = TestInterface::open({.name = "Late Interface", .ltc = {}});
  ASSERT_NE(ti, nullptr);
  ASSERT_TRUE(main_.drainUntil([&] { return calls >= 1; }));
  EXPECT_EQ(seen->thread, std::this_thread::get_id());

  // Our own input coming and going changes neither list, so it must not look like a device change:
  // the store restarts the input on every device change.
  main_.drainUntil([] { return false; }, 0.3);
  int settled = calls;
  {
    LTCInput input;
    input.start(*findDevice(Scope::input, "Late Interface"), 0);
    main_.drainUntil([] { return false; }, 0.3);
  }
  main_.drainUntil([] { return false; }, 0.3);
  EXPECT_EQ(calls, settled);
  ti.reset();
  ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }));

  settled = calls;
  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }));
  EXPECT_TRUE(AudioDevice::all(Scope::input).empty());
  EXPECT_TRUE(AudioDevice::all(Scope::output).empty());
  EXPECT_FALSE(AudioDevice::defaultDeviceID(Scope::input));
  server_->restart();
  EXPECT_TRUE(findDevice(Scope::input, "system"));
}

}  // namespace
}  // namespace quillmark::test
