#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan + UBSan + libFuzzer) and runs each over its seed corpus.
# Exits non-zero when any target reports a finding; the reproducer is kept under
# <build>/fuzz-findings/.
#
#   tools/run_fuzz.sh                   each target 60 s over a scratch copy of its corpus, which
#                                       never grows (the continuous-integration run)
#   tools/run_fuzz.sh --seconds N [T..] the long mode: each target (or the targets T) N seconds; then
#                                       the inputs that reach new code are merged into
#                                       fuzz/corpus/<target>/ in minimized form (libFuzzer's -merge)
#
# Both print, per target, the executions, their rate and the coverage reached (edges, features).
# Environment: KILN_FUZZ_BUILD_DIR (default build-fuzz), KILN_FUZZ_SECONDS (the default seconds),
# KILN_FUZZ_JOBS for the build (default 2), KILN_FUZZ_TARGETS (default: all).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KILN_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${KILN_FUZZ_SECONDS:-60}
jobs=${KILN_FUZZ_JOBS:-2}
read -r -a targets <<< "${KILN_FUZZ_TARGETS:-bmp jpeg png tga registry font text payload}"
merge=0
if [[ ${1:-} == --seconds ]]; then
  [[ ${2:-} =~ ^[0-9]+$ ]] || { echo "usage: $0 [--seconds N [target...]]" >&2; exit 2; }
  seconds=$2
  merge=1
  shift 2
  [[ $# -eq 0 ]] || targets=("$@")
elif [[ $# -ne 0 ]]; then
  echo "usage: $0 [--seconds N [target...]]" >&2
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKILN_BUILD_FUZZ=ON -DKILN_BUILD_TESTS=OFF -DKILN_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log"; exit 2; }
ninja -C "$build" -j"$jobs" "${targets[@]/#/fuzz_}"

findings="$build/fuzz-findings"
mkdir -p "$findings"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The figures of one run's log: executions, executions a second, edges and features covered.
figures() {
  local runs rate cov ft
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$1" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$1" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+' "$1" | tail -1 | cut -d' ' -f2)
  ft=$(grep -Eo 'ft: [0-9]+' "$1" | tail -1 | cut -d' ' -f2)
  echo "${runs:-?} executions, ${rate:-?}/s, coverage ${cov:-?} edges, ${ft:-?} features"
}

failed=()
for target in "${targets[@]}"; do
  corpus="$root/fuzz/corpus/$target"
  work="$scratch/$target"
  mkdir -p "$work"
  cp "$corpus/"* "$work/"
  # -timeout: one input taking longer than this is a finding (a hang); -rss_limit_mb bounds memory.
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
      -artifact_prefix="$findings/$target-" -print_final_stats=1 "$work" > "$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    failed+=("$target")
    continue
  fi
  echo "fuzz_$target: ${seconds} s, $(figures "$scratch/$target.log")"
  if [[ $merge -eq 1 ]]; then
    before=$(find "$corpus" -type f | wc -l)
    "$build/fuzz/fuzz_$target" -merge=1 -timeout=20 -rss_limit_mb=2560 "$corpus" "$work" \
      > "$scratch/$target.merge.log" 2>&1 || { tail -n 20 "$scratch/$target.merge.log"; failed+=("$target"); continue; }
    echo "fuzz_$target: corpus $before -> $(find "$corpus" -type f | wc -l) files"
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found problems in: ${failed[*]} (reproducers in $findings)"
  exit 1
fi
echo "fuzzing: no findings"
