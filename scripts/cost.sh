#!/usr/bin/env bash
# The cost of running: Quillmark headless on LTC in -> MTC out (our virtual port) and LTC out, on an
# isolated JACK server (dummy back end, 48 kHz, 256-frame periods) fed by a stand-in LTC source.
# Reports CPU use over one minute (utime+stime from /proc/<pid>/stat, as a share of one core) and memory
# (VmRSS, VmHWM) sampled every 10 seconds over the whole run. It reports; it asserts nothing.
#
# usage: scripts/cost.sh [MINUTES]   (default 10; at least 1)
# BUILD names the build directory holding quillmark and the tests/faults helpers (default build-faults).
set -euo pipefail

MINUTES=${1:-10}
[[ "$MINUTES" =~ ^[0-9]+$ && "$MINUTES" -ge 1 ]] || { echo "usage: $0 [MINUTES>=1]" >&2; exit 2; }
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-faults}
QUILLMARK=$BUILD/app/quillmark
PLAYER=$BUILD/tests/faults/faults_ltc_player
WRITE_SETTINGS=$BUILD/tests/faults/faults_write_settings
for f in "$QUILLMARK" "$PLAYER" "$WRITE_SETTINGS"; do
  [[ -x "$f" ]] || { echo "cost.sh: $f is missing; build quillmark faults_ltc_player faults_write_settings" >&2; exit 2; }
done

WORK=$(mktemp -d /tmp/quillmark-cost.XXXXXX)
export XDG_CONFIG_HOME=$WORK/config
export JACK_DEFAULT_SERVER=quillmark-cost-$$
export JACK_NO_START_SERVER=1
JACKD_PID= PLAYER_PID= QM_PID=

cleanup() {
  # Quillmark first (it saves and leaves), then its source, then the server.
  for pid in $QM_PID $PLAYER_PID; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in $QM_PID $PLAYER_PID; do wait "$pid" 2>/dev/null || true; done
  if [[ -n "$JACKD_PID" ]]; then kill -TERM "$JACKD_PID" 2>/dev/null || true; wait "$JACKD_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 >"$WORK/jackd.log" 2>&1 &
JACKD_PID=$!
for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
jack_lsp >/dev/null 2>&1 || { echo "cost.sh: jackd did not start:" >&2; cat "$WORK/jackd.log" >&2; exit 1; }

"$PLAYER" >"$WORK/player.log" 2>&1 &
PLAYER_PID=$!
for _ in $(seq 100); do grep -q '^playing' "$WORK/player.log" && break; sleep 0.1; done

"$WRITE_SETTINGS" "$XDG_CONFIG_HOME" ltc-player system
"$QUILLMARK" --headless >"$WORK/quillmark.log" 2>&1 &
QM_PID=$!

# Connect our virtual MTC port to a sink so MIDI really flows, as a desk would.
for _ in $(seq 100); do jack_lsp 2>/dev/null | grep -q '^Quillmark:Virtual out$' && break; sleep 0.1; done
MIDI_SINK=$(jack_lsp -t 2>/dev/null | awk '/^system:midi_playback/ {print $1; exit}' || true)
[[ -n "$MIDI_SINK" ]] && jack_connect 'Quillmark:Virtual out' "$MIDI_SINK" 2>/dev/null || true

HZ=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$QM_PID/stat"; }
mem() { awk '/^VmRSS|^VmHWM/ {printf "%s %s kB  ", $1, $2}' "/proc/$QM_PID/status"; }
alive() { kill -0 "$QM_PID" 2>/dev/null; }

sleep 10  # the input locks and everything settles before measuring
alive || { echo "cost.sh: quillmark ended early:" >&2; cat "$WORK/quillmark.log" >&2; exit 1; }
echo "quillmark pid $QM_PID on $JACK_DEFAULT_SERVER (48 kHz, 256 frames); running $MINUTES min"
echo "--- quillmark output so far"; cat "$WORK/quillmark.log"; echo "---"

START_TICKS=$(ticks); START_TIME=$(date +%s.%N)
FIRST_TICKS=$START_TICKS; FIRST_TIME=$START_TIME
CPU_MINUTE=
SAMPLES=$((MINUTES * 6))
for i in $(seq "$SAMPLES"); do
  sleep 10
  alive || { echo "cost.sh: quillmark ended during the run" >&2; cat "$WORK/quillmark.log" >&2; exit 1; }
  NOW_TICKS=$(ticks); NOW_TIME=$(date +%s.%N)
  printf '%4ds  %s cpu %.2f %%\n' $((i * 10)) "$(mem)" \
    "$(echo "($NOW_TICKS - $START_TICKS) / $HZ / ($NOW_TIME - $START_TIME) * 100" | bc -l)"
  if [[ $i -eq 6 ]]; then
    CPU_MINUTE=$(echo "($NOW_TICKS - $FIRST_TICKS) / $HZ / ($NOW_TIME - $FIRST_TIME) * 100" | bc -l)
    RSS_MINUTE=$(awk '/^VmRSS/ {print $2}' "/proc/$QM_PID/status")
  fi
  START_TICKS=$NOW_TICKS; START_TIME=$NOW_TIME
done
RSS_END=$(awk '/^VmRSS/ {print $2}' "/proc/$QM_PID/status")
HWM_END=$(awk '/^VmHWM/ {print $2}' "/proc/$QM_PID/status")
TOTAL=$(echo "($(ticks) - $FIRST_TICKS) / $HZ / ($(date +%s.%N) - $FIRST_TIME) * 100" | bc -l)
echo "threads: $(awk '/^Threads/ {print $2}' "/proc/$QM_PID/status")"
printf 'CPU over the first minute: %.2f %% of one core (aim: under 2 %%)\n' "$CPU_MINUTE"
printf 'CPU over the whole run:    %.2f %% of one core\n' "$TOTAL"
echo "VmRSS after 1 min: $RSS_MINUTE kB; at the end: $RSS_END kB (growth $((RSS_END - RSS_MINUTE)) kB); VmHWM $HWM_END kB"
echo "--- quillmark output"; cat "$WORK/quillmark.log"
