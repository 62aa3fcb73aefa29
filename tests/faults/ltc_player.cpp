// faults_ltc_player: a stand-in for an LTC source on a JACK server, for scripts that measure Quillmark.
// Plays 25 fps LTC from 10:00:00:00 at real time on the port "ltc-player:out" of the server JACK selects
// (JACK_DEFAULT_SERVER) until SIGINT or SIGTERM. Prints "playing <port>" once the port is live.

#include <signal.h>

#include <cstdio>
#include <exception>

#include "core/frame_rate.h"
#include "tests/support/test_client.h"

int main() {
  // Blocked before libjack starts its threads, so they inherit the mask and only sigwait takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    const auto player = quillmark::test::ltcPlayer(quillmark::FrameRate::fps25, 10.0 * 3600.0 * 25.0, 25.0);
    std::printf("playing %s\n", player->port().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "faults_ltc_player: %s\n", error.what());
    return 1;
  }
  return 0;
}
