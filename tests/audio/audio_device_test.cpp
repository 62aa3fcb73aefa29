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
#include "audio/ltc_input.h"
#include "audio/ltc_output.h"
#include "jack/jack_metadata_lock.h"
#include "tests/support/jack_server.h"
#include "tests/support/main_queue.h"
#include "tests/support/test_client.h"

namespace quillmark::test {
namespace {

using Scope = AudioDevice::Scope;

// An interface with four capture and two playback channels.
std::unique_ptr<TestClient> openInterface(const std::string& name = "Test Interface") {
  auto client = std::make_unique<TestClient>(name);
  for (int i = 1; i <= 4; ++i) client->addAudioOut("capture_" + std::to_string(i));
  for (int i = 1; i <= 2; ++i) client->addAudioIn("playback_" + std::to_string(i));
  client->activate();
  return client;
}

// libjack's metadata store has no lock of its own; the device list reads it on other threads.
void setProperty(jack_client_t* client, jack_uuid_t subject, const char* key, const char* value,
                 const char* type = nullptr) {
  const std::lock_guard<std::mutex> guard(jackMetadataMutex());
  EXPECT_EQ(jack_set_property(client, subject, key, value, type), 0) << key << " " << value;
}

class AudioDeviceTest : public ::testing::Test {
 protected:
  JackServer& server_ = sharedServer();
  MainQueue main_;
  JackDevices devices_{main_.context()};
};

TEST_F(AudioDeviceTest, ListsOtherClientsWithTheirChannelsButNeverOursAndDefaultsToTheHardware) {
  auto ti = openInterface();
  const auto asInput = findDevice(devices_, Scope::input, "Test Interface");
  const auto asOutput = findDevice(devices_, Scope::output, "Test Interface");
  ASSERT_TRUE(asInput && asOutput);
  EXPECT_EQ(asInput->channels, 4);
  EXPECT_EQ(asOutput->channels, 2);
  EXPECT_EQ(asInput->id, asOutput->id);
  LTCInput input(devices_);
  LTCOutput output(devices_);
  input.start(*asInput, 0);
  output.start(*asOutput, {0, 2});
  // The dummy back end's hardware comes first in both directions and owns the physical ports.
  const auto inputs = devices_.list(Scope::input);
  EXPECT_EQ(inputs.at(0).uid, "system");
  EXPECT_EQ(devices_.list(Scope::output).at(0).uid, "system");
  EXPECT_EQ(devices_.defaultDeviceID(Scope::input), inputs[0].id);
  EXPECT_EQ(devices_.defaultDeviceID(Scope::output), inputs[0].id);
  for (auto scope : {Scope::input, Scope::output}) {
    for (const auto& d : devices_.list(scope)) EXPECT_NE(d.uid.rfind("Quillmark", 0), 0u) << d.uid;
  }

  // The pretty name is shown, the client name remembered.
  jack_uuid_t uuid{};
  char* uuidText = jack_get_uuid_for_client_name(ti->get(), "Test Interface");
  ASSERT_EQ(jack_uuid_parse(uuidText, &uuid), 0);
  jack_free(uuidText);
  // Set, then set back rather than removed: PipeWire's libjack keeps properties in a cache of the whole
  // process, which its jack_remove_property does not reliably clear and which outlives the server, so a
  // removed "Scarlett" would name whichever client takes this uuid in a later test. PipeWire also shows a
  // set value only once the server has echoed it, hence the waits.
  for (const char* pretty : {"Scarlett", "Test Interface"}) {
    setProperty(ti->get(), uuid, JACK_METADATA_PRETTY_NAME, pretty, "text/plain");
    EXPECT_TRUE(
        waitFor([&] { return findDevice(devices_, Scope::input, "Test Interface")->name == pretty; }, 2.0))
        << pretty;
  }

  // Channels follow the device's own order: the order metadata where every port has one, else the names
  // sorted naturally; never JACK's listing, which follows port ids in the order of registration.
  TestClient deck("Deck");
  for (const char* name : {"out 2", "out 10", "out 1"}) deck.addAudioOut(name);
  // PipeWire shows a client's ports, and later their metadata, to the others a moment after they were
  // made: the order is judged once it has settled.
  const auto expectPortsOfDeck = [&](const std::vector<std::string>& expected, const char* why) {
    waitFor([&] { return devices_.portsOf("Deck", Scope::input) == expected; }, 2.0);
    EXPECT_EQ(devices_.portsOf("Deck", Scope::input), expected) << why;
  };
  expectPortsOfDeck({"Deck:out 1", "Deck:out 2", "Deck:out 10"}, "no port with an order: sorted by name");
  setProperty(deck.get(), jack_port_uuid(deck.jackPort(0)), JACK_METADATA_ORDER, "3");
  setProperty(deck.get(), jack_port_uuid(deck.jackPort(1)), JACK_METADATA_ORDER, "1");
  expectPortsOfDeck({"Deck:out 1", "Deck:out 2", "Deck:out 10"}, "one port without an order: sorted by name");
  setProperty(deck.get(), jack_port_uuid(deck.jackPort(2)), JACK_METADATA_ORDER, "2");
  expectPortsOfDeck({"Deck:out 10", "Deck:out 1", "Deck:out 2"}, "every port with an order");

  // A client that leaves and comes back keeps its id, so a running choice stays valid.
  ti.reset();
  // Gone from the list (a device is listed while it has ports), so the id below is not the old entry's.
  EXPECT_TRUE(waitFor([&] { return devices_.portsOf("Test Interface", Scope::input).empty(); }, 2.0));
  ti = openInterface();
  EXPECT_EQ(findDevice(devices_, Scope::input, "Test Interface")->id, asInput->id);
}

TEST_F(AudioDeviceTest, ReportsEachBurstOfChangesOnceOnTheMainThreadAndEmptyListsWithoutAServer) {
  struct Seen {
    int calls = 0;
    std::thread::id thread;
  };
  auto seen = std::make_shared<Seen>();
  const JackDevices::ObserverID observer = devices_.observe([seen] {
    ++seen->calls;
    seen->thread = std::this_thread::get_id();
  });
  const int& calls = seen->calls;
  auto ti = openInterface("Late Interface");
  ASSERT_TRUE(main_.drainUntil([&] { return calls >= 1; }));
  EXPECT_EQ(seen->thread, std::this_thread::get_id());

  // A program with 64 ports starting is one burst: the main thread hears of it once, however many notices
  // JACK sent while it was busy.
  main_.drainUntil([] { return false; }, 0.3);
  int settled = calls;
  auto big = std::make_unique<TestClient>("Big Program");
  for (int i = 0; i < 64; ++i) big->addAudioOut("out " + std::to_string(i + 1));
  big->activate();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // every notice is in before the main thread looks
  main_.drainUntil([] { return false; }, 0.3);
  EXPECT_EQ(calls, settled + 1);
  EXPECT_EQ(findDevice(devices_, Scope::input, "Big Program")->channels, 64);
  big.reset();
  settled = calls;
  ti.reset();
  ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }));

  settled = calls;
  server_.stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  // jackd tells its clients it is going, and the observers hear of it. PipeWire's libjack tells them
  // nothing (the application's JackServerWatch polls the daemon's socket for that); all its lists can
  // promise is to be empty once the daemon is gone, as judged below for both.
  if (!JackServer::onPipeWire()) {
    ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }));
  }
  EXPECT_TRUE(devices_.list(Scope::input).empty());
  EXPECT_TRUE(devices_.list(Scope::output).empty());
  EXPECT_FALSE(devices_.defaultDeviceID(Scope::input));
  server_.restart();
  EXPECT_TRUE(findDevice(devices_, Scope::input, "system"));

  // A removed observer hears of no later change, while one still registered does.
  int passes = 0;
  const JackDevices::ObserverID counter = devices_.observe([&passes] { ++passes; });
  devices_.removeObserver(observer);
  settled = calls;
  auto later = std::make_unique<TestClient>("Later Program");
  later->addAudioOut("out 1");
  later->activate();
  ASSERT_TRUE(main_.drainUntil([&] { return passes >= 1; }));
  EXPECT_EQ(calls, settled);
  devices_.removeObserver(counter);
}

}  // namespace
}  // namespace quillmark::test
