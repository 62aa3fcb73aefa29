#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz (clang++, AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each one on its committed seed corpus for the given number of seconds (default 20), one after the
# other at low priority. Exits non-zero on the first finding; the crashing input is left in
# build-fuzz/findings/<target>/.
#   scripts/fuzz.sh [seconds]
set -euo pipefail

seconds="${1:-20}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
targets=(ltc_decoder_fuzz mtc_decoder_fuzz artnet_timecode_fuzz timecode_parse_fuzz settings_json_fuzz display_style_json_fuzz)

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DQM_SANITIZE=address -DQM_WERROR=ON \
  -DQM_BUILD_FUZZ=ON \
  -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF -DQM_BUILD_GUI=OFF >/dev/null
nice -n 19 cmake --build "$build" --target "${targets[@]}" -j"${FUZZ_JOBS:-1}"

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"     # grows as the fuzzer learns; the committed seeds are read only
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${seconds}s"
  if ! nice -n 19 "$build/fuzz/$target" "$corpus" "$root/fuzz/corpus/$target" \
      -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 2>"$build/$target.log"; then
    tail -n 40 "$build/$target.log" >&2
    echo "== $target: FINDING (input saved under $findings/)" >&2
    status=1
    break
  fi
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$build/$target.log" || true
done
exit $status
