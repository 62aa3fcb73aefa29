#include "app/status_builder.h"

#include <cmath>

namespace quillmark {

const char* stateName(TimecodeClock::State state) noexcept {
  switch (state) {
    case TimecodeClock::State::stopped:
      return "stopped";
    case TimecodeClock::State::acquiring:
      return "acquiring";
    case TimecodeClock::State::locked:
      return "locked";
    case TimecodeClock::State::freewheel:
      return "freewheel";
  }
  return "stopped";
}

std::optional<Timecode> labelAt(double position, FrameRate rate) {
  const double frame = std::floor(position);
  // 2^63 as a double; anything at or beyond it (or not finite) has no frame count.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(frame) || frame >= kLimit || frame < -kLimit) return std::nullopt;
  return Timecode::fromFrame(static_cast<std::int64_t>(frame), rate);
}

EngineReading readEngine(TimecodeEngineCore& engine, double now) noexcept {
  EngineReading reading;
  reading.snapshot = engine.snapshot(now);
  reading.stats = engine.stats();
  reading.generatorRunning = engine.generator.withLock([](const Generator& g) { return g.isRunning; });
  return reading;
}

Status buildStatus(const EngineReading& reading, const Settings& settings, double now, InputStats input) {
  const ClockSnapshot& snap = reading.snapshot;
  const ReceptionStats& stats = reading.stats;
  const std::optional<ReceivedFrame>& lastReceived = stats.lastReceived;
  const TimecodeEngineCore::Counters& counters = stats.counters;

  Status status;
  status.state = snap.state(now);
  if (settings.source == SourceKind::generator) {
    status.rate = settings.generatorRate;
  } else if (lastReceived) {
    status.rate = stats.clockRate;
  }

  if (const std::optional<double> position = snap.position(now)) {
    status.timecode = labelAt(*position + 0.000001, snap.rate);
  } else if (snap.parkedPosition) {
    status.timecode = labelAt(*snap.parkedPosition, snap.rate);
    status.held = status.timecode.has_value();
  } else if (lastReceived) {
    status.timecode = lastReceived->timecode;
    status.held = true;
  }

  if (settings.source == SourceKind::generator) {
    status.generatorRunning = reading.generatorRunning || settings.timeOfDay;
    return status;
  }

  status.measuredRate = stats.measuredRate;
  status.speed = stats.speed;
  if (stats.jitter) status.jitterMilliseconds = *stats.jitter * 1000.0;
  status.jumps = stats.jumps;
  status.dropouts = stats.dropouts;
  status.ignored = stats.rejected;
  if (lastReceived) {
    status.userBits = lastReceived->userBits;
    status.reverse = lastReceived->reverse;
  }
  if (settings.source == SourceKind::ltc) {
    status.framesIn = counters.ltcFrames;
    status.level = input.level;
    status.errors = input.errors;
  } else if (settings.source == SourceKind::artnet) {
    status.framesIn = counters.artnetFrames;
    status.errors = input.errors;
  } else {
    status.framesIn = counters.mtcSequences;
  }
  status.mtcSource = std::string(counters.mtcSource.view());
  return status;
}

std::vector<std::string> StatusTransitions::next(const Status& status, SourceKind source) {
  std::vector<std::string> lines;
  if (source == SourceKind::generator) {
    lastState = status.state;
    lastJumps = status.jumps;
    lastRate = status.rate;
    return lines;
  }
  const bool dropFrame = status.rate == FrameRate::fps29_97DF;
  std::string label = status.timecode ? status.timecode->text(dropFrame) : std::string();
  if (label.empty()) label = lastLabel;

  if (lastJumps < status.jumps && status.state != TimecodeClock::State::stopped) {
    lines.push_back("Jump to " + label);
  }
  if (status.state != lastState) {
    switch (status.state) {
      case TimecodeClock::State::locked: {
        const std::string rate = status.rate ? std::string(rawValue(*status.rate)) : std::string();
        lines.push_back("Locked at " + label + ", " + rate + " fps");
        break;
      }
      case TimecodeClock::State::freewheel:
        lines.push_back("Input lost at " + label + ": freewheeling");
        break;
      case TimecodeClock::State::stopped:
        if (lastState != TimecodeClock::State::acquiring) lines.push_back("Stopped at " + label);
        break;
      case TimecodeClock::State::acquiring:
        break;
    }
  }
  if (status.state == TimecodeClock::State::locked && lastState == TimecodeClock::State::locked &&
      status.rate && status.rate != lastRate) {
    lines.push_back("Rate: " + std::string(rawValue(*status.rate)) + " fps");
  }
  lastState = status.state;
  lastJumps = status.jumps;
  lastRate = status.rate;
  lastLabel = std::move(label);
  return lines;
}

}  // namespace quillmark
