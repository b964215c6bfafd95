#!/usr/bin/env bash
# Builds the patcher for Windows and tests it under Wine:
#   build-win32/ZuntoPatcher.exe  the release (32-bit x86), checked statically with objdump, its
#                                 SHA-256 printed, and run with 32-bit Wine on an emulated 32-bit PC
#   build-win64/ZuntoPatcher.exe  the same sources for x86_64, which these machines can run: its
#                                 module suites and the patcher itself run under 64-bit Wine on a
#                                 private Xvfb with Mesa's software GL
# Installs what it needs first (MinGW-w64, wine64, the libraries of tools/windows/build_deps.sh;
# as root, else it prints the command to run). The native build in build/ provides the Linux side of
# the end-to-end test (an X client that watches the window and types through XTest) and the checks
# of what the emulated PC's run left.
#
#   --no-emulated-pc              skips the run of the 32-bit release on an emulated 32-bit PC
#                                 (tools/windows/emulated_pc.sh: its guest tree is made once, in
#                                 about 6 minutes, then each run takes about 2)
#
# Environment: KILN_JOBS (default 2), KILN_WINDOWS_CACHE (dependency builds, the Wine prefix and the
# emulated PC's tree, default /var/cache/kiln-windows, reused by later runs).
set -euo pipefail

emulated=1
for arg in "$@"; do
  case $arg in
    --no-emulated-pc) emulated=0 ;;
    *) echo "usage: $0 [--no-emulated-pc]" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KILN_JOBS:-2}
start=$SECONDS
say() { echo "windows: $* ($((SECONDS - start)) s)"; }

"$root/tools/install_deps.sh"
"$root/tools/windows/build_deps.sh" x86_64 i686

# Configures (once) and builds a tree; its log is printed only when a step fails.
build_tree() {  # build_tree <dir> <targets or ""> <cmake options...>
  local dir=$1 targets=$2
  shift 2
  mkdir -p "$dir"
  if [[ ! -f $dir/build.ninja ]]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1 ||
      { tail -30 "$dir/configure.log" >&2; echo "windows: configuring $dir failed" >&2; exit 1; }
  fi
  # shellcheck disable=SC2086
  ninja -C "$dir" -j"$jobs" $targets >"$dir/build.log" 2>&1 ||
    { grep -E -m 20 'error|FAILED' "$dir/build.log" >&2 || tail -30 "$dir/build.log" >&2
      echo "windows: building $dir failed (log: $dir/build.log)" >&2; exit 1; }
}

build_tree build-win32 "" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKILN_BUILD_TESTS=OFF -DKILN_WERROR=ON -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s
say "built build-win32/ZuntoPatcher.exe"
build_tree build-win64 "" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKILN_BUILD_TESTS=ON -DKILN_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/windows/wine_run"
say "built build-win64 (ZuntoPatcher.exe and the module suites)"
# The watcher's target brings the native sample payload it compares the exported files with.
build_tree build "wine_patcher_tests" -DKILN_BUILD_TESTS=ON -DKILN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
say "built the native watcher (build/tests/wine_patcher_tests) and the payload it compares with"

failures=0
"$root/tools/windows/check_release.sh" build-win32/ZuntoPatcher.exe || failures=$((failures + 1))
echo "release: sha256 $(sha256sum build-win32/ZuntoPatcher.exe | cut -d' ' -f1)  build-win32/ZuntoPatcher.exe"

# Every Wine process of this run shares one private prefix and one private Xvfb.
source "$root/tools/windows/wine_env.sh"
cleanup() {
  kiln_wine_private_end
  kiln_xvfb_stop
}
trap cleanup EXIT
kiln_wine_private
kiln_xvfb_start
export KILN_WINE_PREFIX=$kiln_wine_prefix_dir
kiln_wine_keep_server

if ctest --test-dir build-win64 --output-on-failure -j"$jobs" >build-win64/ctest.log 2>&1; then
  grep -E '^(100%|[0-9]+% tests passed)' build-win64/ctest.log | tail -1 | sed 's/^/windows: suites under Wine: /'
else
  cat build-win64/ctest.log
  echo "windows: a module suite failed under Wine" >&2
  failures=$((failures + 1))
fi
say "ran the module suites"

KILN_WINE_PATCHER=$root/build-win64/ZuntoPatcher.exe KILN_WINE_RUN=$root/tools/windows/wine_run \
  KILN_WINE_SHOTS=$root/build-win64 build/tests/wine_patcher_tests --gtest_filter='PatcherUnderWine.*' --gtest_brief=1 || {
  echo "windows: the patcher under Wine failed" >&2
  failures=$((failures + 1))
}
say "ran the patcher under Wine (screens: build-win64/wine-screen.png, build-win64/wine-wrong-folder.png)"

if [[ $emulated -eq 1 ]]; then
  # The release itself, on a 32-bit PC emulated whole (these machines run no 32-bit code); the
  # watcher checks what the guest left as it checks the runs above.
  results=$root/build-win32/emulated
  # An emulated PC that did not get to its end (a time limit on a busy machine) is booted once more.
  if { "$root/tools/windows/emulated_pc.sh" build-win32/ZuntoPatcher.exe "$results" ||
       { echo "windows: the emulated PC did not finish; booting it once more" >&2
         "$root/tools/windows/emulated_pc.sh" build-win32/ZuntoPatcher.exe "$results"; }; } &&
     KILN_EMULATED_RESULTS=$results KILN_EMULATED_RELEASE=$root/build-win32/ZuntoPatcher.exe \
       build/tests/wine_patcher_tests --gtest_filter='EmulatedRelease.*' --gtest_brief=1; then
    say "ran the 32-bit release on the emulated PC (results: build-win32/emulated)"
  else
    echo "windows: the 32-bit release on the emulated PC failed (results: build-win32/emulated)" >&2
    failures=$((failures + 1))
  fi
fi

if [[ $failures -ne 0 ]]; then
  echo "windows: $failures step(s) failed" >&2
  exit 1
fi
say "all passed"
