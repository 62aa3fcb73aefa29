#include "midi/mtc_output.h"

#include <pthread.h>
#include <sched.h>

#include <utility>

#include "core/host_time.h"

namespace quillmark {

class MTCOutput::PortWire final : public MTCSender::Wire {
 public:
  PortWire(MTCOutput& output, std::uint32_t destination) : output_(output), destination_(destination) {}

  // A pass that was waiting for its hand-over instant when the output was stopped sends nothing: its
  // message would go out tens of milliseconds after stop() returned, to whatever the port is connected to
  // by then (a destination connected for the next start hears a stray quarter frame before its full frame).
  void sendFullFrame(const MTC::FullFrameMessage& message, double due) noexcept override {
    if (!output_.running.load()) return;
    output_.ports_->send(destination_, message, due);
    output_.fullFrames_.fetch_add(1, std::memory_order_relaxed);
  }
  void sendQuarterFrame(const MTC::QuarterFrameMessage& message, double due) noexcept override {
    if (!output_.running.load()) return;
    output_.ports_->send(destination_, message, due);
    output_.quarterFrames_.fetch_add(1, std::memory_order_relaxed);
  }
  void waitUntil(double hostSeconds) noexcept override { HostTime::waitUntil(HostTime::ticks(hostSeconds)); }

 private:
  MTCOutput& output_;
  const std::uint32_t destination_;
};

MTCOutput::MTCOutput(std::shared_ptr<MIDIPorts> ports) : ports_(std::move(ports)) {}

MTCOutput::~MTCOutput() {
  stop();
  if (retiring_.joinable()) retiring_.join();
}

void MTCOutput::setClock(ClockFunction clock) {
  clock_ = std::move(clock);
}

void MTCOutput::start(std::uint32_t newDestination) {
  destination.store(newDestination);
  ports_->route(newDestination);
  if (thread_.joinable()) return;  // the running loop picks up the destination on its next pass
  // A loop stopped a moment ago may still be in its last pass; it must be gone before a new one sends.
  if (retiring_.joinable()) retiring_.join();
  running.store(true);
  thread_ = std::thread([this] { run(); });
}

void MTCOutput::stop() {
  running.store(false);
  if (!thread_.joinable()) return;
  if (retiring_.joinable()) retiring_.join();  // cannot be running: only one loop is ever started at once
  retiring_ = std::move(thread_);
}

void MTCOutput::run() noexcept {
  pthread_setname_np(pthread_self(), "MTC output");
  // Real-time scheduling keeps the wake-ups close to the hand-over instants. Without the privilege
  // the request fails and the loop runs at normal priority: the time stamps still carry the precision.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

  // The loop begins once its port is connected in the graph the cycles run: a connection made a moment
  // ago (at launch, route() has only just asked for it) takes effect cycles later on a busy machine, and
  // the opening full frame written before that was lost, so receivers waited for a whole sequence or
  // longer before they located. A destination switched later is not waited for: the code runs on.
  constexpr double kNotHeardWait = 0.002;
  while (running.load() && !ports_->isHeard(destination.load())) {
    HostTime::waitUntil(HostTime::ticks(HostTime::now() + kNotHeardWait));
  }
  MTCSender sender;
  while (running.load()) pass(sender);
}

void MTCOutput::pass(MTCSender& sender) noexcept {
  const double now = HostTime::now();
  const ClockSnapshot snapshot = clock_ ? clock_() : ClockSnapshot{};
  MTCSender::Settings settings;
  settings.offsetFrames = offsetFrames.load(std::memory_order_relaxed);
  settings.leadSeconds = leadTime.load(std::memory_order_relaxed);
  const std::uint32_t dest = destination.load(std::memory_order_relaxed);
  settings.horizonSeconds = ports_->sendAheadHorizon(dest);
  PortWire wire(*this, dest);
  sender.pass(now, snapshot, settings, wire);
}

}  // namespace quillmark
