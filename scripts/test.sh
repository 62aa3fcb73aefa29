#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite, in five stages:
#   plain    build-test       every test, RelWithDebInfo
#   pipewire build-test       the JACK suites (audio, MIDI, engine, store, faults; their tests carry the
#                             ctest label "pipewire") again, each test on a private PipeWire through
#                             PipeWire's libjack instead of on jackd2. It shares the plain stage's build,
#                             which has the same configuration: after it, nothing is left to build.
#   asan     build-test-asan  the suites the tsan stage does not run, under AddressSanitizer with
#                             UndefinedBehaviorSanitizer (the fault, headless and window tests among them run
#                             the whole application on JACK)
#   tsan     build-test-tsan  the threaded suites (JACK, MIDI, audio, engine, store) under ThreadSanitizer
#   fuzz     build-fuzz       each libFuzzer target for a short while on its committed seed corpus
# Every stage runs even when an earlier one failed; the script fails when any stage failed, and ends with
# each stage's ctest summary and duration.
# Usage: scripts/test.sh [stage...]   (default: plain pipewire asan tsan fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh test
export JACK_NO_START_SERVER=1
# jackd2 keeps a registry of at most eight servers in shared memory and never frees the entry of a server
# that was killed. With no JACK server running at all, nothing can be using it: clear what earlier
# interrupted runs left, so the test servers can start.
if ! pgrep -x jackd >/dev/null 2>&1; then
  rm -f /dev/shm/jack-shm-registry /dev/shm/jack_sem.* 2>/dev/null || true
fi

jobs=${QM_TEST_JOBS:-2}
supp=$root/tests/sanitizers

# The test binaries that run threads of their own or JACK's: the ones ThreadSanitizer has something to
# say about. The single-threaded suites (codec, messages, settings JSON, widgets) run under ASan instead,
# and so do the fault tests, which drive the application as a child process (TSan cannot follow a
# multi-threaded process through fork), the headless tests and the main window's: these three run the
# whole application, engine, store and JACK streams included, under ASan.
tsan_targets=(support_tests midi_jack_tests audio_tests engine_core_tests engine_jack_tests mtc_speed_tests
              app_store_tests net_tests)

# The suites that run on a JACK server, and what makes them run on a private PipeWire instead: the test
# fixture starts one per suite when asked, and PipeWire's libjack stands in for jackd2's (the application
# the fault tests start inherits both). Their tests are labelled "pipewire" in CMake; keep the two lists alike.
pipewire_targets=(midi_jack_tests audio_tests engine_jack_tests app_store_tests faults_tests)
pipewire_env=(
  "QUILLMARK_TEST_SERVER=pipewire"
  "LD_LIBRARY_PATH=$(dirname "$(dpkg -L pipewire-jack | grep -m1 '/jack/libjack\.so\.0$')")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
)

asan_targets=(core_tests clock_tests ltc_tests mtc_tests engine_debug_tests hardening_tests cli_tests
              app_settings_tests app_headless_tests faults_tests ui_tests main_window_tests)

# Any finding ends the test process with a failure: sanitizers otherwise only print and carry on.
asan_env=(
  "ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:check_initialization_order=1:strict_init_order=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=87"
  "LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0:exitcode=88"
)
tsan_env=(
  "TSAN_OPTIONS=halt_on_error=1:exitcode=89:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"
)

# Rebuilds after a small change are much quicker through ccache, where a developer has it.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# The sanitizer builds carry line tables only (-g1): enough for their reports' stack traces, and much
# quicker to compile and link than full debug information.
sanitizer_flags=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

summaries=()
failed=0
stage_ctest_args=()  # more ctest arguments for the next run_stage (which clears them)

# run_stage <name> <build dir> <targets ('all' or names)> <env...> -- <cmake options...>
run_stage() {
  local name=$1 dir=$2 targets=$3
  shift 3
  local env=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    env+=("$1")
    shift
  done
  shift
  local start=$SECONDS status=0 log="$dir/ctest-$name.log" ctest_args=("${stage_ctest_args[@]}")
  stage_ctest_args=()
  echo
  echo "==== stage $name: configure and build in $dir"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON "${launcher[@]}" "$@" \
    >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"
    status=1
  fi
  if [ $status -eq 0 ]; then
    local build_targets=()
    if [ "$targets" != all ]; then
      # Only the targets this configuration has (some need JACK or Qt); say which are missing.
      local known
      known=$(cmake --build "$dir" --target help 2>/dev/null | sed -n 's/^\([A-Za-z0-9_.+-]*\): .*/\1/p')
      for t in $targets; do
        if grep -qx "$t" <<<"$known"; then
          build_targets+=(--target "$t")
        else
          echo "stage $name: no target $t in this tree, skipped"
        fi
      done
      # Test binaries this stage did not build register a placeholder test that fails; leave them out.
      ctest_args+=(-E '_NOT_BUILT$')
    fi
    cmake --build "$dir" -j"$jobs" "${build_targets[@]}" || status=1
  fi
  if [ $status -eq 0 ]; then
    echo "==== stage $name: ctest"
    # With pipefail the pipeline fails when ctest does, whatever tee says.
    if ! env "${env[@]}" ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300 \
      "${ctest_args[@]}" 2>&1 | tee "$log"; then
      status=1
    fi
  fi
  local took=$((SECONDS - start))
  local line
  line=$(grep -E 'tests passed|No tests were found' "$log" 2>/dev/null | tail -1 || true)
  [ -n "$line" ] || line="build or configure failed"
  [ $status -eq 0 ] || failed=1
  summaries+=("$(printf '%-8s %-4s %4ds  %s' "$name" "$([ $status -eq 0 ] && echo ok || echo FAIL)" "$took" "$line")")
}

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(plain pipewire asan tsan fuzz)
for stage in "${stages[@]}"; do
  case $stage in
    plain) run_stage plain build-test all -- ;;
    asan)
      run_stage asan build-test-asan "${asan_targets[*]}" "${asan_env[@]}" -- -DQM_SANITIZE=address \
        -DQM_BUILD_BENCH=OFF "${sanitizer_flags[@]}"
      ;;
    tsan)
      run_stage tsan build-test-tsan "${tsan_targets[*]}" "${tsan_env[@]}" -- -DQM_SANITIZE=thread \
        -DQM_BUILD_BENCH=OFF "${sanitizer_flags[@]}"
      ;;
    pipewire)
      # PipeWire's libjack (0.3.65) calls no client's xrun callback, so the timing tests cannot leave out a
      # stretch the busy machine stalled as they do on jackd2: a test that fails here runs once more, and
      # only one that fails twice fails the stage.
      stage_ctest_args=(-L pipewire --repeat until-pass:2)
      run_stage pipewire build-test "${pipewire_targets[*]}" "${pipewire_env[@]}" --
      ;;
    fuzz)
      start=$SECONDS
      echo
      echo "==== stage fuzz: ${QM_FUZZ_SECONDS:-10}s per target"
      if scripts/fuzz.sh "${QM_FUZZ_SECONDS:-10}"; then result=ok; else result=FAIL failed=1; fi
      summaries+=("$(printf '%-8s %-4s %4ds  %s' fuzz "$result" $((SECONDS - start)) "6 fuzz targets on their seed corpus")")
      ;;
    *)
      echo "unknown stage $stage (plain, asan, tsan, fuzz, pipewire)" >&2
      exit 2
      ;;
  esac
done

echo
echo "==== summary (stage, result, seconds, ctest)"
printf '%s\n' "${summaries[@]}"
# One closing line over every ctest stage: "N passed, M failed".
passed=0 failures=0
for summary in "${summaries[@]}"; do
  if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failures=$((failures + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
done
echo "tests: $passed passed, $failures failed"
exit $failed
