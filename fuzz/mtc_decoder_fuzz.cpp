// Feeds arbitrary bytes to an MTCDecoder in packets of arbitrary lengths and checks what the engine relies
// on: every event carries a label that exists at its rate, a full frame carries the time of the packet
// that completed it, a sequence's piece times are times of packets already fed, the collected
// system-exclusive body never outgrows its fixed buffer, and the allocation-free form of feed (used on
// the MIDI receive thread) reports exactly what the returning form reports.
//
// Session layout, repeated until the input ends: one byte packet length (modulo 65), one byte time step
// in milliseconds (so times rise, sometimes not at all), then the packet's bytes.

#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "midi/mtc_decoder.h"

using namespace quillmark;
using namespace quillmark::fuzz;

namespace {

void checkEvent(const MTCDecoder::Event& event, double packetTime, double firstTime) {
  if (const auto* sequence = event.asSequence()) {
    FUZZ_CHECK(sequence->timecode.isValid(sequence->rate));
    // Every piece of a complete run has arrived, so none still holds the initial time 0.
    for (const double t : sequence->quarterTimes) FUZZ_CHECK(t >= firstTime && t <= packetTime);
  } else {
    const auto* full = event.asFullFrame();
    FUZZ_CHECK(full != nullptr);
    FUZZ_CHECK(full->timecode.isValid(full->rate));
    FUZZ_CHECK(full->time == packetTime);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  MTCDecoder streaming;  // the receive thread's form: events through a callable
  MTCDecoder returning;  // the form that returns a vector
  const double firstTime = 1000.0;
  double time = firstTime;
  std::vector<MTCDecoder::Event> streamed;
  while (!input.empty()) {
    const std::size_t length = input.take<std::uint8_t>() % 65;
    time += input.take<std::uint8_t>() * 0.001;
    const std::span<const std::uint8_t> packet = input.bytes(length);

    streamed.clear();
    streaming.feed(packet, time, [&](const MTCDecoder::Event& event) { streamed.push_back(event); });
    const std::vector<MTCDecoder::Event> returned = returning.feed(packet, time);
    FUZZ_CHECK(streamed == returned);
    FUZZ_CHECK(streaming == returning);
    for (const MTCDecoder::Event& event : returned) checkEvent(event, time, firstTime);
    if (streaming.sysex) FUZZ_CHECK(streaming.sysex->count <= MTCDecoder::kMaxSysExBody);
    FUZZ_CHECK(streaming.run >= 0);
  }
  return 0;
}
