#!/usr/bin/env bash
# Installs what is missing, builds Quillmark and opens it: the main window, from which the Window menu
# (Ctrl+Shift+D) opens the timecode display. Extra arguments are passed on (for example:
# scripts/run.sh --profile studio). With no desktop to show windows on (neither DISPLAY nor
# WAYLAND_DISPLAY set), it runs `quillmark --headless` instead: the timecode store and engine without
# windows, printing every event-log line with its local time; Ctrl-C ends it cleanly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build build --target quillmark quillmark-ltc
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No desktop to open windows on: running headless." >&2
  exec build/app/quillmark --headless "$@"
fi
exec build/app/quillmark "$@"
