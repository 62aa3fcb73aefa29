#include "engine/timecode_engine_core.h"

#include <cstdio>
#include <cstdlib>

namespace quillmark {

namespace {

// What the LTC path needs to remember of the clock from before a frame: enough to tell whether the frame
// confirmed a jump and, if so, where the old line expected it. Read field by field under the clock's lock
// instead of copying the clock, whose point window would allocate on the audio thread.
struct ClockBefore {
  std::int64_t jumps = 0;
  FrameRate rate = FrameRate::fps25;
  std::optional<TimecodeClock::Fit> fit;
};

std::string formatted(const char* format, double value) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof buffer)
    return std::string(buffer, static_cast<std::size_t>(length));
  std::string text(static_cast<std::size_t>(length), '\0');  // only absurd magnitudes get here
  std::snprintf(text.data(), text.size() + 1, format, value);
  return text;
}

}  // namespace

TimecodeEngineCore::TimecodeEngineCore() {
  counters.withLock([](Counters& c) { c.mtcSource.reserve(kSourceNameCapacity); });
}

bool TimecodeEngineCore::debug() {
  static const bool enabled = std::getenv("TIMECODE_DEBUG") != nullptr;
  return enabled;
}

std::string TimecodeEngineCore::jumpLine(const Timecode& timecode, FrameRate rate, std::int64_t frameNumber,
                                         std::optional<double> expected, FrameRate clockRate,
                                         double duration) {
  std::string line = "jump: LTC ";
  line += timecode.description();
  line += " as ";
  line += rawValue(rate);
  line += " = ";
  line += std::to_string(frameNumber);
  line += ", expected ";
  line += expected ? formatted("%.2f", *expected) : std::string("-");
  line += " at clock rate ";
  line += rawValue(clockRate);
  line += ", duration ";
  line += formatted("%.5f", duration);
  line += '\n';
  return line;
}

void TimecodeEngineCore::receiveLTC(const LTCFrame& frame, double time, double duration,
                                    bool reverse) noexcept {
  if (source.read() != SourceKind::ltc) return;

  const std::optional<double> previousTime =
      lastReceived.withLock([](const std::optional<ReceivedFrame>& last) {
        return last ? std::optional<double>(last->time) : std::nullopt;
      });
  if (previousTime && time - *previousTime > kDetectorRestartGap) {
    detector.withLock([](LTCRateDetector& d) { d.reset(); });
  }

  FrameRate rate = FrameRate::fps25;
  if (const std::optional<FrameRate> forced = rateOverride.read()) {
    rate = *forced;
  } else {
    rate = detector.withLock([&](LTCRateDetector& d) { return d.observe(frame, duration); })
               .value_or(FrameRate::fps25);
  }
  const std::int64_t n = frame.timecode.frameNumber(rate);

  const ClockBefore before = clock.withLock([](const TimecodeClock& c) {
    return ClockBefore{c.jumps, c.rate, c.fit};
  });
  const std::int64_t jumpsAfter = clock.withLock([&](TimecodeClock& c) {
    if (reverse) {
      c.observeReverse(static_cast<double>(n), time, rate);
    } else {
      c.observe(static_cast<double>(n), time, rate);
    }
    return c.jumps;
  });

  if (jumpsAfter != before.jumps && debug()) {
    std::optional<double> expected;
    if (before.fit) expected = before.fit->position + (time - before.fit->time) * before.fit->slope;
    try {
      const std::string line = jumpLine(frame.timecode, rate, n, expected, before.rate, duration);
      std::fputs(line.c_str(), stderr);  // one call, so the line is not torn by other writers
    } catch (...) {
      // Out of memory while formatting a diagnostic: the frame itself still counts.
    }
  }

  lastReceived.withLock([&](std::optional<ReceivedFrame>& last) {
    const FrameRate clockRate = clock.withLock([](const TimecodeClock& c) { return c.rate; });
    last = ReceivedFrame{frame.timecode, clockRate, frame.userBits, reverse, time};
  });
  counters.withLock([](Counters& c) { ++c.ltcFrames; });
}

void TimecodeEngineCore::receiveMTC(const MTCDecoder::Event& event, std::string_view sourceName) noexcept {
  if (source.read() != SourceKind::mtc) return;
  const bool accepted = mtcSourceName.withLock(
      [&](const std::string& wanted) { return wanted.empty() || std::string_view(wanted) == sourceName; });
  if (!accepted) return;
  const std::optional<FrameRate> forced = rateOverride.read();

  if (const MTCDecoder::Event::FullFrame* full = event.asFullFrame()) {
    const FrameRate rate = forced.value_or(full->rate);
    const std::int64_t n = full->timecode.frameNumber(rate);
    clock.withLock([&](TimecodeClock& c) { c.observe(static_cast<double>(n), full->time, rate); });
    // A full frame is shown at the rate it was read with, even when the clock has moved to a pulldown rate.
    lastReceived.withLock([&](std::optional<ReceivedFrame>& last) {
      last = ReceivedFrame{full->timecode, rate, std::nullopt, false, full->time};
    });
    counters.withLock([&](Counters& c) {
      ++c.fullFrames;
      c.mtcSource.assign(sourceName);  // reuses the reserved capacity
    });
    return;
  }

  const MTCDecoder::Event::Sequence* sequence = event.asSequence();
  if (sequence == nullptr) return;
  const FrameRate rate = forced.value_or(sequence->rate);
  const std::int64_t n = sequence->timecode.frameNumber(rate);
  const auto& times = sequence->quarterTimes;
  clock.withLock([&](TimecodeClock& c) {
    if (sequence->reverse) {
      c.observeReverse(static_cast<double>(n), times[0], rate);
    } else {
      // Each piece went out a quarter frame after the one before; the label is the frame of piece 0.
      for (int k = 0; k < 8; ++k)
        c.observe(static_cast<double>(n) + 0.25 * k, times[static_cast<std::size_t>(k)], rate);
    }
  });
  // A forward sequence ends during the frame after its label, so that is the frame being shown.
  const Timecode shown = Timecode::fromFrame(sequence->reverse ? n : n + 1, rate);
  const double shownTime = sequence->reverse ? times[0] : times[7];
  lastReceived.withLock([&](std::optional<ReceivedFrame>& last) {
    const FrameRate clockRate = clock.withLock([](const TimecodeClock& c) { return c.rate; });
    last = ReceivedFrame{shown, clockRate, std::nullopt, sequence->reverse, shownTime};
  });
  counters.withLock([&](Counters& c) {
    ++c.mtcSequences;
    c.mtcSource.assign(sourceName);
  });
}

void TimecodeEngineCore::receiveArtNet(const ArtNet::ReceivedTimeCode& packet, double time) noexcept {
  if (source.read() != SourceKind::artnet) return;
  const FrameRate rate = rateOverride.read().value_or(packet.rate);
  const std::int64_t n = packet.timecode.frameNumber(rate);
  clock.withLock([&](TimecodeClock& c) { c.observe(static_cast<double>(n), time, rate); });
  // A packet stream runs like LTC, so the label is shown at the clock's rate, pulldown included.
  lastReceived.withLock([&](std::optional<ReceivedFrame>& last) {
    const FrameRate clockRate = clock.withLock([](const TimecodeClock& c) { return c.rate; });
    last = ReceivedFrame{packet.timecode, clockRate, std::nullopt, false, time};
  });
  counters.withLock([](Counters& c) { ++c.artnetFrames; });
}

ClockSnapshot TimecodeEngineCore::snapshot(double at) noexcept {
  if (source.read() == SourceKind::generator) {
    // Copy out, then compute: in time-of-day mode the snapshot reads the wall clock, which should not
    // happen under a lock the store may be waiting for.
    const Generator g = generator.read();
    return g.snapshot(at);
  }
  // The clock's snapshot is a handful of numbers; taking it in place avoids copying the point window.
  return clock.withLock([](const TimecodeClock& c) { return c.snapshot(); });
}

void TimecodeEngineCore::resetInput() noexcept {
  clock.withLock([&](TimecodeClock& c) {
    c.resetInput();
    c.detectsPulldown = rateOverride.withLock([](const std::optional<FrameRate>& forced) { return !forced; });
  });
  detector.withLock([](LTCRateDetector& d) { d.reset(); });
  lastReceived.withLock([](std::optional<ReceivedFrame>& last) { last.reset(); });
  counters.withLock([](Counters& c) {
    c.ltcFrames = 0;
    c.mtcSequences = 0;
    c.fullFrames = 0;
    c.artnetFrames = 0;
    c.mtcSource.clear();  // keeps the reserved capacity
  });
}

}  // namespace quillmark
