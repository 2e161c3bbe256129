#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while; fails on any finding.
#   fuzz/run-fuzzers.sh [SECONDS] [TARGET...]     SECONDS per target (default 5, or FUZZ_SECONDS)
# Environment: BUILD_DIR (default build-fuzz), CC/CXX (default clang-14), FUZZ_JOBS (targets
# run at once, default 1). New inputs go to BUILD_DIR/fuzz-work/TARGET/corpus, findings to
# BUILD_DIR/fuzz-work/TARGET/ (crash-*, leak-*, timeout-*), the seeds under fuzz/ stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

seconds="${FUZZ_SECONDS:-5}"
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=(temperature_answer setpoint_echo flow_reply pulse_answer network_page preset_file)
fi
[[ $# -gt 0 ]] || targets+=(http_request)
build="${BUILD_DIR:-$root/build-fuzz}"
jobs="${FUZZ_JOBS:-1}"

# Debian's clang and its libFuzzer runtime.
tools/deps.sh clang-14 libclang-rt-14-dev

CC="${CC:-clang-14}" CXX="${CXX:-clang++-14}" cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBAROTERM_BUILD_FUZZERS=ON \
  -DBAROTERM_BUILD_TESTS=OFF -DBAROTERM_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target baroterm_fuzzers -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# QSettings files of the preset target: a RAM disk where there is one.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR="${TMPDIR:-/dev/shm}"

run_one() {
  local target="$1" work="$build/fuzz-work/$1"
  mkdir -p "$work/corpus"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict="$root/fuzz/dict/$target.dict" -artifact_prefix="$work/" \
    "$work/corpus" "$root/fuzz/corpus/$target" >"$work/last-run.log" 2>&1
}

failed=()
pids=()
names=()
for target in "${targets[@]}"; do
  if [[ ! -x "$build/fuzz/fuzz_$target" ]]; then
    echo "no such fuzz target: $target" >&2
    exit 2
  fi
  run_one "$target" &
  pids+=("$!")
  names+=("$target")
  if [[ ${#pids[@]} -ge $jobs ]]; then
    wait "${pids[0]}" || failed+=("${names[0]}")
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed+=("${names[$i]}")
done

for target in "${targets[@]}"; do
  log="$build/fuzz-work/$target/last-run.log"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  printf '%-20s %12s executions in %ss\n' "$target" "${runs:-?}" "$seconds"
done
if [[ ${#failed[@]} -gt 0 ]]; then
  for target in "${failed[@]}"; do
    echo "--- fuzz_$target found something ($build/fuzz-work/$target/):" >&2
    grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written' \
      "$build/fuzz-work/$target/last-run.log" >&2 || tail -20 "$build/fuzz-work/$target/last-run.log" >&2
  done
  exit 1
fi
