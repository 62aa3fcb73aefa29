#!/usr/bin/env bash
# The main job: renders ten seconds of LTC to a file with the offline tool and decodes it back.
set -euo pipefail
build=${1:-build}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
out=$dir/quillmark-demo.wav
"$build/cli/quillmark-ltc" generate --rate 25 --start 10:00:00:00 --seconds 10 "$out"
"$build/cli/quillmark-ltc" decode "$out"
