#pragma once
// TimecodeEngineCore is the half of the timecode engine that holds time: the selected source, the forced
// input rate, the accepted MIDI source, the clock fitted to received code, the generator, the last frame
// received, the counters and the LTC rate detector. It takes decoded LTC frames and MTC events, keeps only
// those of the selected source, works out each one's rate, feeds the clock, and serves a ClockSnapshot to
// the outputs and the status display. It knows nothing of JACK: TimecodeEngine owns one and wires the
// audio and MIDI objects to it, so the reception logic is tested here with made-up host times.
//
// Threads: every shared value is its own Locked box, each held for one copy, one update or one clock
// observation. Locks nest in two places only, always in this order: lastReceived then clock (recording
// the frame with the clock's rate), and clock then rateOverride (resetInput deciding pulldown detection).
// No code takes lastReceived or clock while holding rateOverride, or lastReceived while holding clock.
// receiveLTC runs on the audio input thread, receiveMTC on the MIDI receive thread and receiveArtNet on the
// Art-Net receive thread; none allocates
// (apart from the clock's window, reserved up front, and the TIMECODE_DEBUG line). snapshot() is safe on
// the real-time output threads. resetInput() and the store's writes come from the main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock_snapshot.h"
#include "core/frame_rate.h"
#include "core/generator.h"
#include "core/locked.h"
#include "core/received_frame.h"
#include "core/source_kind.h"
#include "core/timecode_clock.h"
#include "ltc/ltc_frame.h"
#include "ltc/ltc_rate_detector.h"
#include "midi/artnet_timecode.h"
#include "midi/mtc_decoder.h"

namespace quillmark {

class TimecodeEngineCore {
 public:
  struct Counters {
    std::int64_t ltcFrames = 0;
    std::int64_t mtcSequences = 0;
    std::int64_t fullFrames = 0;
    std::int64_t artnetFrames = 0;  // ArtTimeCode packets taken
    std::string mtcSource;          // name of the MIDI source of the latest MTC event taken

    bool operator==(const Counters&) const = default;
  };

  // Room kept in counters.mtcSource, so naming the source on the MIDI thread does not allocate. JACK
  // port names (client and port) are at most 320 bytes; longer display names still work, they allocate.
  static constexpr std::size_t kSourceNameCapacity = 512;

  // A gap between two LTC frames longer than this (seconds) means the code broke off: rate detection
  // starts over, since what follows may be a different tape at a different rate.
  static constexpr double kDetectorRestartGap = 0.5;

  TimecodeEngineCore();
  TimecodeEngineCore(const TimecodeEngineCore&) = delete;
  TimecodeEngineCore& operator=(const TimecodeEngineCore&) = delete;

  Locked<SourceKind> source{SourceKind::ltc};
  Locked<std::optional<FrameRate>> rateOverride;  // none: detect
  Locked<std::string> mtcSourceName;              // "": accept every MIDI source
  Locked<TimecodeClock> clock;
  Locked<Generator> generator;
  Locked<std::optional<ReceivedFrame>> lastReceived;
  Locked<Counters> counters;
  Locked<LTCRateDetector> detector;

  // True when the environment held TIMECODE_DEBUG (any value) the first time this was asked.
  static bool debug();

  // One decoded LTC frame: its first bit arrived at host second `time` and it lasted `duration` seconds.
  // Reverse frames (and reverse MTC sequences) go to the clock as reverse play (observeReverse): while the
  // code runs backwards the outputs are silent; when it runs forward again they start afresh.
  void receiveLTC(const LTCFrame& frame, double time, double duration, bool reverse) noexcept;

  // One MTC event from the MIDI source named `sourceName`.
  void receiveMTC(const MTCDecoder::Event& event, std::string_view sourceName) noexcept;

  // One ArtTimeCode packet that arrived at host second `time`. Like an MTC full frame, each packet says
  // where the code is at its arrival; at the packet's rate unless a rate is forced. The packet's type
  // cannot tell 23.976 from 24 or 29.97 non-drop from 30: the clock's pulldown detection measures that.
  void receiveArtNet(const ArtNet::ReceivedTimeCode& packet, double time) noexcept;

  // The time line the outputs and the display read: the generator's when it is the source (at host
  // second `at`), else the clock's (where `at` plays no part: the reader applies its own time).
  ClockSnapshot snapshot(double at) noexcept;

  // Forgets everything learned from the input: the clock's window, line and counters, the detector, the
  // last frame and the counters. The clock's rate, freewheel and lock time stay; pulldown detection is
  // on exactly when no rate is forced.
  void resetInput() noexcept;

  // The TIMECODE_DEBUG line for a confirmed LTC jump, line feed included. `expected` is where the line
  // fitted before the frame put it at the frame's time, none when there was no line.
  static std::string jumpLine(const Timecode& timecode, FrameRate rate, std::int64_t frameNumber,
                              std::optional<double> expected, FrameRate clockRate, double duration);
};

}  // namespace quillmark
