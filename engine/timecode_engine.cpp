#include "engine/timecode_engine.h"

#include <utility>

#include "audio/jack_devices.h"
#include "core/host_time.h"

namespace quillmark {

TimecodeEngine::TimecodeEngine(JackDevices& devices)
    : core_(std::make_shared<TimecodeEngineCore>()),
      source(core_->source),
      rateOverride(core_->rateOverride),
      mtcSourceName(core_->mtcSourceName),
      clock(core_->clock),
      generator(core_->generator),
      lastReceived(core_->lastReceived),
      counters(core_->counters),
      detector(core_->detector),
      ports(MIDIPorts::create(devices.context())),
      ltcInput(devices),
      ltcOutput(devices),
      artnetInput([weak = std::weak_ptr<TimecodeEngineCore>(core_)](const ArtNet::ReceivedTimeCode& packet,
                                                                    double hostSeconds) {
        if (const std::shared_ptr<TimecodeEngineCore> core = weak.lock())
          core->receiveArtNet(packet, hostSeconds);
      }),
      mtcOutput_(ports) {
  const std::weak_ptr<TimecodeEngineCore> weak = core_;
  ltcInput.onFrame = [weak](const LTCInput::TimedFrame& timed) {
    if (const std::shared_ptr<TimecodeEngineCore> core = weak.lock()) {
      core->receiveLTC(timed.frame, timed.time, timed.duration, timed.reverse);
    }
  };
  ports->setOnMTC([weak](const MTCDecoder::Event& event, const std::string& sourceName) {
    if (const std::shared_ptr<TimecodeEngineCore> core = weak.lock()) core->receiveMTC(event, sourceName);
  });
  ltcOutput.clock = clockFunction();
  mtcOutput_.setClock(clockFunction());
  artnetOutput.setClock(clockFunction());
}

TimecodeEngine::~TimecodeEngine() {
  // Stop delivery before the members go, so nothing arrives half-way through the teardown.
  ports->setOnMTC(nullptr);
  mtcOutput_.stop();
  artnetOutput.stop();
  artnetInput.stop();
}

std::function<ClockSnapshot()> TimecodeEngine::clockFunction() const {
  const std::weak_ptr<TimecodeEngineCore> weak = core_;
  return [weak]() -> ClockSnapshot {
    if (const std::shared_ptr<TimecodeEngineCore> core = weak.lock()) return core->snapshot(HostTime::now());
    return ClockSnapshot{};
  };
}

}  // namespace quillmark
