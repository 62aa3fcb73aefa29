#pragma once
// What the tests on JACK share that run the store in process or the application as a child: the Qt
// application, waits that keep its event loop turning (the store hears of devices and refreshes its status
// through queued calls), and other programs' audio clients standing in for devices.
// Threads: the test's main thread, which is the store's.

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>

#include "core/host_time.h"
#include "tests/support/test_client.h"
#include "tests/support/wait_for.h"

namespace quillmark::test {

// The Qt application that the store's queued calls and the child processes' pipes need: one per test
// process, made by whichever test asks first and kept to the end.
inline void ensureCoreApplication() {
  static int argc = 1;
  static char name[] = "quillmark_tests";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

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
