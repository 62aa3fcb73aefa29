#pragma once
// MTCDecoder turns the bytes one MIDI source sends into timecode events: a `sequence` for each complete,
// in-order run of eight quarter frames, and a `fullFrame` for each full-frame message. It reports the label
// exactly as assembled from the wire and adds no frames of its own; the engine applies the quarter-frame
// timing using the per-piece arrival times a sequence carries. Malformed input is dropped silently and the
// decoder stays ready for the next message; there is no reset, a new stream resynchronises by itself.
// Threads: a plain value without locking; its owner serialises access (the MIDI ports feed each source's
// decoder under their lock, on the MIDI receive thread). feed() with a callable never allocates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <variant>
#include <vector>

#include "core/frame_rate.h"
#include "core/timecode.h"

namespace quillmark {

struct MTCDecoder {
  // One decoded event: either a complete run of quarter frames or a full frame. Two events are equal when
  // they are the same case with equal payloads. Trivially copyable, so it may cross threads by value.
  struct Event {
    // A complete run of eight quarter frames. quarterTimes[i] is the host time (seconds) of the packet
    // that carried the most recent piece i, indexed by piece number rather than by arrival order;
    // `reverse` is true when the run arrived in descending piece order.
    struct Sequence {
      Timecode timecode;
      FrameRate rate = FrameRate::fps25;
      std::array<double, 8> quarterTimes{};
      bool reverse = false;
      bool operator==(const Sequence&) const = default;
    };
    // A full-frame message; `time` is the host time (seconds) of the packet that completed it.
    struct FullFrame {
      Timecode timecode;
      FrameRate rate = FrameRate::fps25;
      double time = 0.0;
      bool operator==(const FullFrame&) const = default;
    };

    std::variant<Sequence, FullFrame> value;

    static Event sequence(const Timecode& timecode, FrameRate rate, const std::array<double, 8>& quarterTimes,
                          bool reverse) noexcept {
      return Event{Sequence{timecode, rate, quarterTimes, reverse}};
    }
    static Event fullFrame(const Timecode& timecode, FrameRate rate, double time) noexcept {
      return Event{FullFrame{timecode, rate, time}};
    }

    // The payload of the case this event is, or null when it is the other case.
    const Sequence* asSequence() const noexcept { return std::get_if<Sequence>(&value); }
    const FullFrame* asFullFrame() const noexcept { return std::get_if<FullFrame>(&value); }

    bool operator==(const Event&) const = default;
  };

  // The body of a system-exclusive message being collected (the bytes after 0xF0). A full frame's body is
  // 8 bytes; anything that grows past kMaxSysExBody is abandoned, so a fixed buffer suffices and feeding
  // never allocates.
  static constexpr std::size_t kMaxSysExBody = 16;
  struct SysExBody {
    std::array<std::uint8_t, kMaxSysExBody> bytes{};
    std::size_t count = 0;
    bool operator==(const SysExBody&) const = default;
  };

  static constexpr int kCompleteRun = 8;

  // State, all plain values so the owner may copy the decoder in and out of its per-source table.
  std::array<int, 8> nibbles{};   // last nibble received for each piece
  std::array<double, 8> times{};  // arrival time of the last nibble of each piece
  // Pieces in one direction, counting the current one, up to kCompleteRun (a complete group's worth).
  int run = 0;
  std::optional<int> lastPiece;            // piece number of the previous quarter frame
  bool reverse = false;                    // direction of the current run: true when descending
  std::optional<SysExBody> sysex;          // present while inside a system-exclusive message
  bool expectingQuarterFrameData = false;  // a 0xF1 was seen and its data byte is due

  // Feeds the bytes of one MIDI packet received at `time` (host seconds) and calls found(const Event&) for
  // each event these bytes complete, in the order completed. State carries over between calls, so a
  // message may be split across packets. Never allocates unless `found` does.
  template <class Found>
  void feed(std::span<const std::uint8_t> bytes, double time, Found&& found) {
    for (const std::uint8_t byte : bytes) {
      if (const std::optional<Event> event = step(byte, time)) found(*event);
    }
  }

  // The same, returning the events (usually none or one). Allocates when an event is produced: for callers
  // off the real-time path; the MIDI receive path uses the callable form.
  std::vector<Event> feed(std::span<const std::uint8_t> bytes, double time);

  bool operator==(const MTCDecoder&) const = default;

 private:
  // One byte of the stream; an event when this byte completes one.
  std::optional<Event> step(std::uint8_t byte, double time) noexcept;
  // One quarter-frame data byte d (piece d >> 4, nibble d & 0x0F).
  std::optional<Event> quarterFrame(std::uint8_t data, double time) noexcept;
  // A system-exclusive body just ended by 0xF7: a full frame when it is one and its label is valid.
  std::optional<Event> fullFrame(const SysExBody& body, double time) const noexcept;
};

// Events cross threads by plain copy (an SPSC queue of values, for one).
static_assert(std::is_trivially_copyable_v<MTCDecoder::Event>);

}  // namespace quillmark
