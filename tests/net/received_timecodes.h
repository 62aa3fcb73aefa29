#pragma once
// Test helper: what an ArtNetInput's handler saw, each packet with the host time it arrived, kept in fixed
// storage so that the handler itself never allocates. It is also the lighting desk of the end-to-end
// tests, which judge Art-Net out by when its packets arrive.
// Threads: the handler writes on the receive thread; a test reads after `count` says so.

#include <array>
#include <atomic>
#include <cstddef>

#include "net/artnet_input.h"
#include "tests/support/alloc_counter.h"

namespace quillmark::test {

struct ReceivedTimeCodes {
  std::array<ArtNet::ReceivedTimeCode, 4096> timecodes;
  std::array<double, 4096> hosts{};
  std::atomic<std::size_t> count{0};
  std::atomic<bool> markRealtime{false};  // count the receive thread's allocations from its next packet on

  ArtNetInput::Handler handler() {
    return [this](const ArtNet::ReceivedTimeCode& timecode, double host) {
      if (markRealtime) setRealtimeThread(true);
      const std::size_t i = count.load();
      if (i < timecodes.size()) {
        timecodes[i] = timecode;
        hosts[i] = host;
        count.store(i + 1);
      }
    };
  }
};

}  // namespace quillmark::test
