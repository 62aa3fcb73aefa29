#pragma once
// TimecodeEngineCore is the half of the timecode engine that holds time: the selected source, the forced
// input rate, the accepted MIDI source, the clock fitted to received code, the generator, the last frame
// received, the counters and the LTC rate detector. It takes decoded LTC frames and MTC events, keeps only
// those of the selected source, works out each one's rate, feeds the clock, and serves a ClockSnapshot to
// the outputs and a ReceptionStats record to the status display. It knows nothing of JACK: TimecodeEngine
// owns one and wires the audio and MIDI objects to it, so the reception logic is tested here with made-up
// host times.
//
// Threads: receiveLTC runs on the audio input thread, receiveMTC on the MIDI receive thread,
// receiveArtNet on the Art-Net receive thread, snapshot() on the real-time output threads and the main
// thread; the store's writes, resetInput() and stats() on the main thread. The scalar settings the
// receiving threads read (source, rateOverride) are atomics. Everything learned from the input (clock,
// detector, stats) is guarded by one reception lock, taken once per received LTC frame or MTC event for the
// whole reception, once per snapshot for a copy of the line, and by the main thread only to copy plain
// values or write plain settings: no holder of it allocates, does I/O or waits (the TIMECODE_DEBUG line is
// queued as a plain record and printed by JumpLinePrinter's thread). The generator and the accepted MIDI
// source name have a lock each, never nested with the reception lock. None of the receiving paths or
// snapshot() allocates (the clock's window is reserved up front).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "core/clock_snapshot.h"
#include "core/frame_rate.h"
#include "core/generator.h"
#include "core/locked.h"
#include "core/locked_text.h"
#include "core/mutex.h"
#include "core/received_frame.h"
#include "core/source_kind.h"
#include "core/thread_annotations.h"
#include "core/timecode_clock.h"
#include "engine/jump_line_printer.h"
#include "engine/reception_stats.h"
#include "ltc/ltc_frame.h"
#include "ltc/ltc_rate_detector.h"
#include "midi/artnet_timecode.h"
#include "midi/mtc_decoder.h"

namespace quillmark {

class TimecodeEngineCore {
 public:
  using Counters = ReceptionStats::Counters;

  // Room for the name of the MIDI source in the counters; see SourceName.
  static constexpr std::size_t kSourceNameCapacity = SourceName::kCapacity;

  // A gap between two LTC frames longer than this (seconds) means the code broke off: rate detection
  // starts over, since what follows may be a different tape at a different rate.
  static constexpr double kDetectorRestartGap = 0.5;

  TimecodeEngineCore();
  ~TimecodeEngineCore();
  TimecodeEngineCore(const TimecodeEngineCore&) = delete;
  TimecodeEngineCore& operator=(const TimecodeEngineCore&) = delete;

 private:
  // Declared before the views below, which refer to it.
  mutable Mutex mutex_;  // the reception lock

 public:
  // Settings the store writes on the main thread and the receiving threads read.
  std::atomic<SourceKind> source{SourceKind::ltc};
  std::atomic<std::optional<FrameRate>> rateOverride{std::nullopt};  // none: detect
  LockedText mtcSourceName;                                          // "": accept every MIDI source
  Locked<Generator> generator;
  static_assert(std::atomic<std::optional<FrameRate>>::is_always_lock_free, "read on real-time threads");

  // The clock under the reception lock. withLock is for the store's settings (freewheelDuration,
  // detectsPulldown) and for tests; read() copies the point window and so allocates: tests only.
  class ClockAccess {
   public:
    explicit ClockAccess(TimecodeEngineCore& core) noexcept : core_(core) {}
    ClockAccess(const ClockAccess&) = delete;
    ClockAccess& operator=(const ClockAccess&) = delete;
    template <class F>
    auto withLock(F&& body) {
      MutexLock guard(core_.mutex_);
      if constexpr (std::is_void_v<std::invoke_result_t<F, TimecodeClock&>>) {
        std::forward<F>(body)(core_.clock_);
        core_.publishClock();
      } else {
        auto result = std::forward<F>(body)(core_.clock_);
        core_.publishClock();
        return result;
      }
    }
    TimecodeClock read() {
      MutexLock guard(core_.mutex_);
      return core_.clock_;
    }

   private:
    TimecodeEngineCore& core_;
  };
  ClockAccess clock{*this};
  // Copies of the rest of the reception state, for tests; each read is one copy under the reception lock.
  LockedView<std::optional<ReceivedFrame>> lastReceived{mutex_, stats_.lastReceived};
  LockedView<Counters> counters{mutex_, stats_.counters};
  LockedView<LTCRateDetector> detector{mutex_, detector_};

  // True when the environment held TIMECODE_DEBUG (any value) the first time this was asked.
  static bool debug();

  // One decoded LTC frame: its first bit arrived at host second `time` and it lasted `duration` seconds.
  // Reverse frames (and reverse MTC sequences) go to the clock as reverse play (observeReverse): while the
  // code runs backwards the outputs are silent; when it runs forward again they start afresh.
  void receiveLTC(const LTCFrame& frame, double time, double duration, bool reverse) noexcept
      QM_EXCLUDES(mutex_);

  // One MTC event from the MIDI source named `sourceName`.
  void receiveMTC(const MTCDecoder::Event& event, std::string_view sourceName) noexcept QM_EXCLUDES(mutex_);

  // One ArtTimeCode packet that arrived at host second `time`. Like an MTC full frame, each packet says
  // where the code is at its arrival; at the packet's rate unless a rate is forced. The packet's type
  // cannot tell 23.976 from 24 or 29.97 non-drop from 30: the clock's pulldown detection measures that.
  void receiveArtNet(const ArtNet::ReceivedTimeCode& packet, double time) noexcept QM_EXCLUDES(mutex_);

  // The time line the outputs and the display read: the generator's when it is the source (at host
  // second `at`), else the clock's (where `at` plays no part: the reader applies its own time).
  ClockSnapshot snapshot(double at) noexcept QM_EXCLUDES(mutex_);

  // What the status display shows about the received code: one copy of plain values under the lock.
  ReceptionStats stats() const noexcept QM_EXCLUDES(mutex_);

  // Forgets everything learned from the input: the clock's window, line and counters, the detector, the
  // last frame and the counters. The clock's rate, freewheel and lock time stay; pulldown detection is
  // on exactly when no rate is forced.
  void resetInput() noexcept QM_EXCLUDES(mutex_);

  // The TIMECODE_DEBUG printer; none unless debug() is true.
  const JumpLinePrinter* jumpLines() const noexcept { return jumpLines_.get(); }

 private:
  // Brings the clock's part of stats_ up to date; called at the end of every critical section that
  // changed the clock.
  void publishClock() noexcept QM_REQUIRES(mutex_);
  // Feeds the clock one observation at `nominalRate`, reverse play or forward.
  void observe(double position, double time, FrameRate nominalRate, bool reverse) noexcept
      QM_REQUIRES(mutex_);

  TimecodeClock clock_ QM_GUARDED_BY(mutex_);
  LTCRateDetector detector_ QM_GUARDED_BY(mutex_);
  ReceptionStats stats_ QM_GUARDED_BY(mutex_);

  // Constant after construction; report() is called under mutex_, which keeps its queue single-producer.
  const std::unique_ptr<JumpLinePrinter> jumpLines_;
};

}  // namespace quillmark
