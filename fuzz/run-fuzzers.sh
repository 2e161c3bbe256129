#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while; fails on any finding and on a
# target that runs fewer inputs a second than its floor.
#   fuzz/run-fuzzers.sh [SECONDS] [TARGET...]     SECONDS per target (default 5, or FUZZ_SECONDS)
# Environment: BUILD_DIR (default build-fuzz), CC/CXX (default clang-14), FUZZ_JOBS (targets
# run at once, default one per core), FUZZ_CHECK_RATE=0 (print the rates, check no floor). New inputs go to BUILD_DIR/fuzz-work/TARGET/corpus, findings
# to BUILD_DIR/fuzz-work/TARGET/ (crash-*, leak-*, timeout-*), the seeds under fuzz/ stay as
# they are.
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
  targets=(temperature_answer setpoint_echo flow_reply pulse_answer network_page preset_file
           preset_plan run_options run_journal resume_decision)
fi
[[ $# -gt 0 ]] || targets+=(http_request)
build="${BUILD_DIR:-$root/build-fuzz}"
jobs="${FUZZ_JOBS:-$(nproc)}"

# Inputs a second each target must reach (one core each): the journal and resume targets hash
# their logs.
floor() {
  case "$1" in
    run_journal | resume_decision) echo 2000 ;;
    *) echo 10000 ;;
  esac
}

# Debian's clang and its libFuzzer runtime.
tools/deps.sh clang-14 libclang-rt-14-dev

CC="${CC:-clang-14}" CXX="${CXX:-clang++-14}" cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBAROTERM_BUILD_FUZZERS=ON \
  -DBAROTERM_BUILD_TESTS=OFF -DBAROTERM_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target baroterm_fuzzers -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
# Allocation stacks 8 frames deep, a 16 MB quarantine and new blocks filled up to 256 bytes:
# the parsers allocate for every line and key, and the defaults (30 frames, 256 MB, 4 KB) would
# halve their rate for little more.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:malloc_context_size=8:quarantine_size_mb=16:max_malloc_fill_size=256}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
  local target="$1" work="$build/fuzz-work/$1"
  mkdir -p "$work/corpus"
  local dict=()
  [[ -f "$root/fuzz/dict/$target.dict" ]] && dict=(-dict="$root/fuzz/dict/$target.dict")
  local TIMEFORMAT='%U %S' # the processor time the target had, for its rate on a busy machine
  { time "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" -artifact_prefix="$work/" \
    "$work/corpus" "$root/fuzz/corpus/$target" >"$work/last-run.log" 2>&1; } 2>"$work/cpu-time"
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

# inputs/s: inputs by wall time, as libFuzzer counts them; per CPU s: by the processor time the
# target had, which is what a core of its own gives and what the floor is checked against.
slow=()
printf '%-18s %12s %9s %10s %7s %6s\n' target inputs inputs/s "per CPU s" floor edges
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/last-run.log" | tail -1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/last-run.log" | tail -1)"
  edges="$(grep -oE '(INITED|DONE|pulse|NEW|REDUCE) +cov: [0-9]+' "$work/last-run.log" |
    tail -1 | grep -oE '[0-9]+$' || true)"
  cpu_rate="$(awk -v runs="${runs:-0}" '{ cpu = $1 + $2 } END { if (cpu > 0) printf "%d", runs / cpu }' \
    "$work/cpu-time" 2>/dev/null)"
  printf '%-18s %12s %9s %10s %7s %6s\n' "$target" "${runs:-?}" "${rate:-?}" "${cpu_rate:-?}" \
    "$(floor "$target")" "${edges:-?}"
  if [[ "${FUZZ_CHECK_RATE:-1}" != 0 && "${cpu_rate:-0}" -lt "$(floor "$target")" ]]; then
    slow+=("$target")
  fi
done
if [[ ${#slow[@]} -gt 0 ]]; then
  echo "below the floor of inputs a second: ${slow[*]}" >&2
fi
if [[ ${#failed[@]} -gt 0 ]]; then
  for target in "${failed[@]}"; do
    echo "--- fuzz_$target found something ($build/fuzz-work/$target/):" >&2
    grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written' \
      "$build/fuzz-work/$target/last-run.log" >&2 || tail -20 "$build/fuzz-work/$target/last-run.log" >&2
  done
  exit 1
fi
[[ ${#slow[@]} -eq 0 ]]
