#pragma once
// What the store's and the windows' tests on JACK share: waits that keep the Qt event loop turning (the
// store hears of devices and refreshes its status through queued calls), and other programs' audio
// clients standing in for devices.
// Threads: the test's main thread, which is the store's.

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>

#include "core/host_time.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

// Processes Qt events until `condition` holds or `seconds` pass; whether it holds.
inline bool processUntil(const std::function<bool()>& condition, double seconds = 10.0) {
  return waitFor(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return condition();
      },
      seconds);
}

// Lets the event loop run for a while, so that queued notices settle.
inline void settle(double seconds = 0.5) {
  const double until = HostTime::now() + seconds;
  processUntil([&] { return HostTime::now() >= until; }, seconds + 1.0);
}

// A program with `channels` audio ports: outputs make it an input device, inputs an output device.
enum class DeviceKind { input, output };
inline std::unique_ptr<TestClient> audioDevice(const std::string& name, int channels, DeviceKind kind) {
  auto device = std::make_unique<TestClient>(name);
  for (int i = 1; i <= channels; ++i) {
    const std::string port = "ch" + std::to_string(i);
    kind == DeviceKind::input ? device->addAudioOut(port) : device->addAudioIn(port);
  }
  device->activate();
  return device;
}

}  // namespace quillmark::test
