#!/usr/bin/env bash
# Installs what is missing, builds Quillmark and runs its main job: `quillmark --headless`, the timecode
# store and engine without windows, printing every event-log line with its local time. Extra arguments
# are passed on (for example: scripts/run.sh --profile studio). Ctrl-C ends it cleanly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build build --target quillmark quillmark-ltc
exec build/app/quillmark --headless "$@"
