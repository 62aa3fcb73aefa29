#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
export JACK_NO_START_SERVER=1
# jackd2 keeps a registry of at most eight servers in shared memory and never frees the entry of a server
# that was killed. With no JACK server running at all, nothing can be using it: clear what earlier
# interrupted runs left, so the test servers can start.
if ! pgrep -x jackd >/dev/null 2>&1; then
  rm -f /dev/shm/jack-shm-registry /dev/shm/jack_sem.* 2>/dev/null || true
fi
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2 --timeout 300
