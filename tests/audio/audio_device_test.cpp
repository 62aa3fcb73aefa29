// The device lists on a real JACK graph: clients the test creates appear with their channels in each
// direction, our own clients never do, changes reach the main thread, and without a server the lists are
// simply empty.
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <jack/uuid.h>

#include <algorithm>
#include <memory>
#include <optional>
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

class AudioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { server_ = JackServer::start(); }
  std::unique_ptr<JackServer> server_;
  MainQueue main_;
};

std::optional<AudioDevice> find(const std::vector<AudioDevice>& devices, const std::string& uid) {
  auto it = std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& d) { return d.uid == uid; });
  if (it == devices.end()) return std::nullopt;
  return *it;
}

TEST_F(AudioDeviceTest, ListsAClientAmongInputsAndOutputsWithItsPortCountInEach) {
  auto ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  const auto inputs = AudioDevice::all(AudioDevice::Scope::input);
  const auto outputs = AudioDevice::all(AudioDevice::Scope::output);
  const auto asInput = find(inputs, "Test Interface");
  const auto asOutput = find(outputs, "Test Interface");
  ASSERT_TRUE(asInput && asOutput);
  EXPECT_EQ(asInput->channels, 4);
  EXPECT_EQ(asOutput->channels, 2);
  EXPECT_EQ(asInput->name, "Test Interface");
  EXPECT_EQ(asInput->id, asOutput->id);
  EXPECT_NE(asInput->id, 0u);
  // The dummy back end's hardware comes first, in both directions, and the order does not change.
  ASSERT_FALSE(inputs.empty());
  EXPECT_EQ(inputs.front().uid, "system");
  EXPECT_EQ(outputs.front().uid, "system");
  EXPECT_EQ(AudioDevice::all(AudioDevice::Scope::input), inputs);

  // A client that leaves and comes back keeps its id, so a running choice stays valid.
  const std::uint32_t id = asInput->id;
  ti.reset();
  EXPECT_FALSE(find(AudioDevice::all(AudioDevice::Scope::input), "Test Interface"));
  ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  const auto again = find(AudioDevice::all(AudioDevice::Scope::input), "Test Interface");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->id, id);
}

TEST_F(AudioDeviceTest, ShowsThePrettyNameButRemembersTheClientName) {
  auto ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  jack_uuid_t uuid{};
  char* uuidText = jack_get_uuid_for_client_name(ti->client(), ti->name().c_str());
  ASSERT_NE(uuidText, nullptr);
  ASSERT_EQ(jack_uuid_parse(uuidText, &uuid), 0);
  jack_free(uuidText);
  {
    // libjack's metadata store has no lock of its own; the device list reads it on other threads.
    const std::lock_guard<std::mutex> guard(jackMetadataMutex());
    ASSERT_EQ(
        jack_set_property(ti->client(), uuid, JACK_METADATA_PRETTY_NAME, "Scarlett 18i20", "text/plain"), 0);
  }

  const auto device = find(AudioDevice::all(AudioDevice::Scope::input), "Test Interface");
  ASSERT_TRUE(device);
  EXPECT_EQ(device->name, "Scarlett 18i20");
  const std::lock_guard<std::mutex> guard(jackMetadataMutex());
  jack_remove_property(ti->client(), uuid, JACK_METADATA_PRETTY_NAME);
}

TEST_F(AudioDeviceTest, NeverListsQuillmarksOwnClientsAndDefaultsToTheHardware) {
  auto ti = TestInterface::open();
  ASSERT_NE(ti, nullptr);
  const auto device = find(AudioDevice::all(AudioDevice::Scope::input), "Test Interface");
  const auto outputDevice = find(AudioDevice::all(AudioDevice::Scope::output), "Test Interface");
  ASSERT_TRUE(device && outputDevice);
  LTCInput input;
  LTCOutput output;
  input.start(*device, 0);
  output.start(*outputDevice, {0, 2});

  for (auto scope : {AudioDevice::Scope::input, AudioDevice::Scope::output}) {
    for (const auto& d : AudioDevice::all(scope)) {
      EXPECT_EQ(d.uid.rfind("Quillmark", 0), std::string::npos) << d.uid;
    }
  }
  // The dummy back end owns the physical ports; the test interface's are not physical.
  const auto system = find(AudioDevice::all(AudioDevice::Scope::input), "system");
  ASSERT_TRUE(system);
  EXPECT_EQ(AudioDevice::defaultDeviceID(AudioDevice::Scope::input), system->id);
  EXPECT_EQ(AudioDevice::defaultDeviceID(AudioDevice::Scope::output), system->id);
}

TEST_F(AudioDeviceTest, ReportsClientsComingAndGoingOnTheMainThreadButNotOurOwn) {
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
  int& calls = seen->calls;

  TestInterfaceOptions options;
  options.name = "Late Interface";
  auto ti = TestInterface::open(options);
  ASSERT_NE(ti, nullptr);
  ASSERT_TRUE(main_.drainUntil([&] { return calls >= 1; }, 5));
  EXPECT_EQ(seen->thread, std::this_thread::get_id());
  EXPECT_TRUE(find(AudioDevice::all(AudioDevice::Scope::input), "Late Interface"));

  // Our own input coming and going changes neither list, so it must not look like a device change:
  // the store restarts the input on every device change.
  main_.drainUntil([] { return false; }, 0.3);
  const int settled = calls;
  {
    LTCInput input;
    input.start(*find(AudioDevice::all(AudioDevice::Scope::input), "Late Interface"), 0);
    main_.drainUntil([] { return false; }, 0.3);
  }
  main_.drainUntil([] { return false; }, 0.3);
  EXPECT_EQ(calls, settled);

  ti.reset();
  ASSERT_TRUE(main_.drainUntil([&] { return calls > settled; }, 5));
  EXPECT_FALSE(find(AudioDevice::all(AudioDevice::Scope::input), "Late Interface"));
}

TEST_F(AudioDeviceTest, ListsNothingWithoutAServerAndFindsItAgainWhenItReturns) {
  auto counter = std::make_shared<int>(0);
  AudioDevice::observeChanges([counter] { ++*counter; });
  int& calls = *counter;
  ASSERT_FALSE(AudioDevice::all(AudioDevice::Scope::input).empty());

  server_->stop();  // orderly: a killed jackd keeps its slot in the machine-wide server registry
  ASSERT_TRUE(main_.drainUntil([&] { return calls >= 1; }, 5));
  EXPECT_TRUE(AudioDevice::all(AudioDevice::Scope::input).empty());
  EXPECT_TRUE(AudioDevice::all(AudioDevice::Scope::output).empty());
  EXPECT_FALSE(AudioDevice::defaultDeviceID(AudioDevice::Scope::input));

  server_->restart();
  EXPECT_TRUE(find(AudioDevice::all(AudioDevice::Scope::input), "system"));
}

}  // namespace
}  // namespace quillmark::test
