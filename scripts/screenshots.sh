#!/usr/bin/env bash
# Makes the documentation's screenshots from the running windows, on Qt's offscreen platform: the main
# window with each of the three sources and on a dark desktop (docs/main-window-*.png), on a private JACK
# server with no hardware and an LTC source of its own, and the display window in every built-in style
# and with its style editor (docs/screenshots/).
# The user's settings are never touched: the programs keep theirs in a temporary file.
# Usage: scripts/screenshots.sh [build directory]   (default: build-screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-screenshots}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target quillmark-main-screenshots quillmark-display-screenshots

XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
# A desktop-sized offscreen screen (the platform's own is 800 x 600), so windows and popovers sit as
# they would on one.
echo '{"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]}' \
  >"$XDG_RUNTIME_DIR/screens.json"
export QT_QPA_PLATFORM="offscreen:configfile=$XDG_RUNTIME_DIR/screens.json"
export JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER="quillmark-screenshots-$$"
jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -p 128 -d dummy -r 48000 -p 1024 >/dev/null 2>&1 &
jackd_pid=$!
trap 'kill "$jackd_pid" 2>/dev/null; wait "$jackd_pid" 2>/dev/null; rm -rf "$XDG_RUNTIME_DIR"' EXIT
# The server takes about half a second to accept clients.
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done

"$build/ui/quillmark-main-screenshots" docs
"$build/ui/quillmark-display-screenshots" docs/screenshots
