#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan + UBSan + libFuzzer) and runs each for a bounded
# time over a scratch copy of its seed corpus, so the committed corpus never grows. Exits non-zero
# when any target reports a finding; the reproducer is kept under <build>/fuzz-findings/.
#
# Environment: KILN_FUZZ_BUILD_DIR (default build-fuzz), KILN_FUZZ_SECONDS per target (default 60),
# KILN_FUZZ_JOBS for the build (default 2), KILN_FUZZ_TARGETS (default: all).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KILN_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${KILN_FUZZ_SECONDS:-60}
jobs=${KILN_FUZZ_JOBS:-2}
read -r -a targets <<< "${KILN_FUZZ_TARGETS:-bmp jpeg png tga registry font}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKILN_BUILD_FUZZ=ON -DKILN_BUILD_TESTS=OFF -DKILN_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log"; exit 2; }
ninja -C "$build" -j"$jobs" "${targets[@]/#/fuzz_}"

findings="$build/fuzz-findings"
mkdir -p "$findings"

failed=()
for target in "${targets[@]}"; do
  work="$scratch/$target"
  mkdir -p "$work"
  cp "$root/fuzz/corpus/$target/"* "$work/"
  echo "== fuzz_$target: ${seconds}s"
  # -timeout: one input taking longer than this is a finding (a hang); -rss_limit_mb bounds memory.
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
      -artifact_prefix="$findings/$target-" -print_final_stats=1 "$work" > "$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    failed+=("$target")
  else
    grep -E "^stat::number_of_executed_units|^Done" "$scratch/$target.log" || true
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found problems in: ${failed[*]} (reproducers in $findings)"
  exit 1
fi
echo "fuzzing: no findings"
