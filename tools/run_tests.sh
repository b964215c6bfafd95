#!/usr/bin/env bash
# Builds everything and runs every test. With --sanitize the build goes to build-asan with
# AddressSanitizer and UndefinedBehaviorSanitizer, and any report fails the run.
#
# Environment: KILN_BUILD_DIR (default build or build-asan), KILN_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=0
[[ ${1:-} == --sanitize ]] && sanitize=1

"$root/tools/install_deps.sh"

jobs=${KILN_JOBS:-2}
args=(-DKILN_BUILD_TESTS=ON -DKILN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ $sanitize -eq 1 ]]; then
  build=${KILN_BUILD_DIR:-$root/build-asan}
  args+=(-DKILN_SANITIZE=ON)
  # Test discovery runs the binaries during the build, so these hold for the build too.
  # intercept_tls_get_addr=0: clang 14's runtime misreads glibc 2.36's dynamic TLS blocks (Mesa's),
  # and LeakSanitizer's thread scan then faults on a made-up range ("Tracer caught signal 11").
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0:intercept_tls_get_addr=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  suppressions=$root/tools/lsan_suppressions.txt
  [[ -f $suppressions ]] && export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$suppressions:print_suppressions=0}
else
  build=${KILN_BUILD_DIR:-$root/build}
fi

cmake -S "$root" -B "$build" -G Ninja "${args[@]}"
ninja -C "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600
