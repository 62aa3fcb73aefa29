#!/usr/bin/env bash
# Installs what is missing, builds Quillmark and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build build
exec scripts/demo.sh build "$@"
