#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own, or a library its layer must not
# use (libjack outside the JACK layers, Qt below the application state, libsndfile outside the file tool).
# Each file prints one line per offending include, "file:line: <layer> includes <header> (<layer>)".
# Usage: scripts/check_layers.sh [root]   (default: the repository this script is in)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# The layer a file or header belongs to; empty for what the check does not judge (tests, benchmarks,
# fuzz targets and the developer tools under ui/tools, which may reach anything they link).
layer_of() {
  case $1 in
    core/*) echo core ;;
    ltc/*) echo ltc ;;
    midi/mtc.* | midi/mtc_decoder.* | midi/mtc_sender.* | midi/artnet_timecode.* | midi/artnet_sender.* | \
    midi/spsc_queue.*) echo mtc ;;
    midi/*) echo midi ;;
    jack/*) echo jack ;;
    audio/*) echo audio ;;
    net/*) echo net ;;
    engine/timecode_engine_core.* | engine/jump_line_printer.* | engine/reception_stats.* | engine/source_name.*)
      echo engine_core ;;
    engine/*) echo engine ;;
    app/*) echo app ;;
    ui/tools/*) echo "" ;;
    ui/*) echo ui ;;
    main/*) echo main ;;
    cli/*) echo cli ;;
    *) echo "" ;;
  esac
}

# What each layer may include: itself and the layers below it that it builds on.
declare -A allowed=(
  [core]="core"
  [ltc]="core ltc"
  [mtc]="core mtc"
  [jack]="core jack"
  [audio]="core ltc jack audio"
  [midi]="core mtc jack midi"
  [net]="core mtc net"
  [engine_core]="core ltc mtc engine_core"
  [engine]="core ltc mtc jack audio midi net engine_core engine"
  [app]="core ltc mtc jack audio midi net engine_core engine app"
  [ui]="core ltc mtc app ui"
  [main]="core app ui main"
  [cli]="core ltc cli"
)
# The layers that may include each library's headers.
jack_layers=" jack audio midi "
qt_layers=" app ui main "
sndfile_layers=" cli "

failures=0
report() {
  echo "$1"
  failures=$((failures + 1))
}

while IFS= read -r file; do
  layer=$(layer_of "$file")
  [ -n "$layer" ] || continue
  while IFS=: read -r line text; do
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      target=$(layer_of "$header")
      [ -n "$target" ] || continue
      if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
        report "$file:$line: $layer includes $header ($target)"
      fi
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      header=${BASH_REMATCH[1]}
      case $header in
        jack/*) [[ $jack_layers == *" $layer "* ]] || report "$file:$line: $layer includes <$header> (libjack)" ;;
        Q* | qt*/*) [[ $qt_layers == *" $layer "* ]] || report "$file:$line: $layer includes <$header> (Qt)" ;;
        sndfile*) [[ $sndfile_layers == *" $layer "* ]] || report "$file:$line: $layer includes <$header> (libsndfile)" ;;
      esac
    fi
  done < <(grep -n '#[[:space:]]*include' "$file" || true)
done < <(find . -path ./build\* -prune -o -path ./.git -prune -o \( -name '*.h' -o -name '*.cpp' \) -print | sed 's#^\./##' | sort)

if [ $failures -gt 0 ]; then
  echo "$failures include(s) cross the layers"
  exit 1
fi
echo "layers: every include stays within its layer or below"
