#pragma once
// MTCOutput sends MIDI timecode that follows the engine's clock. Its "MTC output" thread takes a fresh
// ClockSnapshot on every pass, works out the next quarter frame and when it is due, waits until just
// before it may be handed over and sends it stamped with its exact due time; a full frame goes first when
// the output (re)starts, after the clock was idle, when the position jumps and when the MTC rate code
// changes. Messages go to the chosen destination through the ports' "Output" port, or are published on
// the virtual source when that is the destination. A loop begins sending once its port is connected in
// the graph the cycles run (MIDIPorts::isHeard), so that its opening full frame reaches someone.
//
// What to send and when is MTCSender's business; this class gives it the host clock, the snapshot, the
// settings and the ports. Send-ahead: JACK writes a message at its exact frame only if it is queued before
// the cycle carrying that frame begins, up to one period plus the port's playback latency (the horizon)
// before it is due, so each pass hands its quarter frame over that much early. The due times themselves
// are exact; only the hand-over moves.
//
// Threads: the constructor, start(), stop(), setClock() and the destructor on the owner's (main) thread;
// the loop on its own thread, which reads the settings (atomics) on every pass and never allocates. A stop
// followed at once by a start waits (at most about 50 ms, the loop's longest sleep) for the old loop to
// end, so two loops never feed the ports' single-producer queue together.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "core/clock_snapshot.h"
#include "jack/realtime.h"
#include "midi/midi_ports.h"
#include "midi/mtc_sender.h"

namespace quillmark {

class MTCOutput {
 public:
  using ClockFunction = std::function<ClockSnapshot()>;

  // REQUIRES: ports is not null.
  explicit MTCOutput(std::shared_ptr<MIDIPorts> ports);
  // Stops the loop and waits for it to end.
  ~MTCOutput();
  MTCOutput(const MTCOutput&) = delete;
  MTCOutput& operator=(const MTCOutput&) = delete;

  // The time line to follow. Until one is set the clock is idle and nothing is sent.
  // REQUIRES: no loop is running (the engine installs it once, before the first start).
  void setClock(ClockFunction clock);

  // Settings the loop reads on every pass; written on the main thread.
  // Frames added to the clock position (fractional and negative allowed).
  std::atomic<double> offsetFrames{0.0};
  // Seconds by which MTC runs ahead of the clock.
  std::atomic<double> leadTime{0.0};
  // Where messages go: a destination's reference, or the ports' virtualSource.
  std::atomic<std::uint32_t> destination{0u};
  // The loop continues while set.
  std::atomic<bool> running{false};

  // Sets the destination and connects the ports' "Output" to it. Starts the loop when none runs;
  // otherwise the running loop uses the new destination from its next pass, without a full frame.
  void start(std::uint32_t destination);
  // Clears `running`; the loop ends at the end of its pass, within about 50 ms, and hands over nothing
  // more (those handed over before go out at their due time, within a period and the destination's
  // latency). Does not wait.
  void stop();
  // True while a started loop has not been stopped.
  bool isStarted() const noexcept { return thread_.joinable(); }

  // Messages handed to the ports since creation (for the status and for tests).
  std::uint64_t fullFramesSent() const noexcept { return fullFrames_.load(std::memory_order_relaxed); }
  std::uint64_t quarterFramesSent() const noexcept { return quarterFrames_.load(std::memory_order_relaxed); }

 private:
  class PortWire;  // MTCSender's wire onto the ports, for one pass

  void run() noexcept;
  // Reads the host clock, the snapshot and the settings, and lets `sender` make one pass with them.
  void pass(MTCSender& sender) noexcept QM_REALTIME;

  std::shared_ptr<MIDIPorts> ports_;
  ClockFunction clock_;
  std::thread thread_;    // the running loop
  std::thread retiring_;  // a stopped loop that may still be finishing its pass
  std::atomic<std::uint64_t> fullFrames_{0};
  std::atomic<std::uint64_t> quarterFrames_{0};
};

}  // namespace quillmark
