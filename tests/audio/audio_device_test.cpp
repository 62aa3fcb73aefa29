// The device lists on a real JACK graph: clients the test creates appear with their channels in each
// direction, our own clients never do, changes reach the main thread, and without a server the lists are
// simply empty.
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <jack/uuid.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_device.h"
#include "audio/jack_devices.h"
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
  // Set, then set back rather than removed: PipeWire's libjack keeps properties in a cache of the whole
  // process, which its jack_remove_property does not reliably clear and which outlives the server, so a
  // removed "Scarlett" would name whichever client takes this uuid in a later test. PipeWire also shows a
  // set value only once the server has echoed it, hence the waits.
  auto prettyNameShown = [&](const char* pretty) {
    {
      // libjack's metadata store has no lock of its own; the device list reads it on other threads.
      const std::lock_guard<std::mutex> guard(jackMetadataMutex());
      EXPECT_EQ(jack_set_property(ti->client(), uuid, JACK_METADATA_PRETTY_NAME, pretty, "text/plain"), 0);
    }
    return waitFor([&] { return findDevice(Scope::input, "Test Interface")->name == pretty; }, 2.0);
  };
  EXPECT_TRUE(prettyNameShown("Scarlett"));
  EXPECT_TRUE(prettyNameShown("Test Interface"));

  // Channels follow the device's own order: the order metadata where every port has one, else the names
  // sorted naturally; never JACK's listing, which follows port ids in the order of registration.
  jack_client_t* deck = openTestClient("Deck");
  ASSERT_NE(deck, nullptr);
  std::vector<jack_port_t*> deckPorts;
  for (const char* name : {"out 2", "out 10", "out 1"})
    deckPorts.push_back(jack_port_register(deck, name, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
  using Names = std::vector<std::string>;
  // PipeWire shows a client's ports, and later their metadata, to the others a moment after they were
  // made: the order is judged once it has settled.
  auto portsOfDeck = [](const Names& expected) {
    waitFor([&] { return JackDevices::shared().portsOf("Deck", Scope::input) == expected; }, 2.0);
    return JackDevices::shared().portsOf("Deck", Scope::input);
  };
  EXPECT_EQ(portsOfDeck({"Deck:out 1", "Deck:out 2", "Deck:out 10"}),
            (Names{"Deck:out 1", "Deck:out 2", "Deck:out 10"}));
  for (std::size_t i = 0; i < deckPorts.size(); ++i) {
    const std::lock_guard<std::mutex> guard(jackMetadataMutex());
    if (i < 2)
      jack_set_property(deck, jack_port_uuid(deckPorts[i]), JACK_METADATA_ORDER, i == 0 ? "3" : "1", nullptr);
  }
  EXPECT_EQ(portsOfDeck({"Deck:out 1", "Deck:out 2", "Deck:out 10"}),
            (Names{"Deck:out 1", "Deck:out 2", "Deck:out 10"}))
      << "one port without an order: sorted by name";
  {
    const std::lock_guard<std::mutex> guard(jackMetadataMutex());
    jack_set_property(deck, jack_port_uuid(deckPorts[2]), JACK_METADATA_ORDER, "2", nullptr);
  }
  EXPECT_EQ(portsOfDeck({"Deck:out 10", "Deck:out 1", "Deck:out 2"}),
            (Names{"Deck:out 10", "Deck:out 1", "Deck:out 2"}));
  jack_client_close(deck);

  // A client that leaves and comes back keeps its id, so a running choice stays valid.
  ti.reset();
  EXPECT_TRUE(deviceGone(Scope::input, "Test Interface"));
  ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  EXPECT_EQ(findDevice(Scope::input, "Test Interface")->id, asInput->id);
}

TEST_F(AudioDeviceTest, ReportsEachBurstOfChangesOnceOnTheMainThreadAndEmptyListsWithoutAServer) {
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

  // A program with 64 ports starting is one burst: the main thread hears of it once, however many notices
  // JACK sent while it was busy.
  main_.drainUntil([] { return false; }, 0.3);
  int settled = calls;
  jack_client_t* big = openTestClient("Big Program");
  ASSERT_NE(big, nullptr);
  for (int i = 0; i < 64; ++i) {
    jack_port_register(big, ("out " + std::to_string(i + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                       JackPortIsOutput, 0);
  }
  ASSERT_EQ(jack_activate(big), 0);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // every notice is in before the main thread looks
  main_.drainUntil([] { return false; }, 0.3);
  EXPECT_EQ(calls, settled + 1);
  EXPECT_EQ(findDevice(Scope::input, "Big Program")->channels, 64);
  jack_client_close(big);
  settled = calls;
  ti.reset();
  ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }));

  settled = calls;
  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  // jackd tells its clients it is going, and the observers hear of it. PipeWire's libjack tells them
  // nothing (the application's JackServerWatch polls the daemon's socket for that); all its lists can
  // promise is to be empty once the daemon is gone, as judged below for both.
  if (!JackServer::onPipeWire()) {
    ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }));
  }
  EXPECT_TRUE(AudioDevice::all(Scope::input).empty());
  EXPECT_TRUE(AudioDevice::all(Scope::output).empty());
  EXPECT_FALSE(AudioDevice::defaultDeviceID(Scope::input));
  server_->restart();
  EXPECT_TRUE(findDevice(Scope::input, "system"));
}

}  // namespace
}  // namespace quillmark::test
