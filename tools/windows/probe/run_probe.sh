#!/usr/bin/env bash
# Proves the Wine harness end to end and prints its timings: builds wgl_probe.exe with the x86_64
# MinGW toolchain and the window tools (grab_window, press_key) natively, then under Wine on a
# private Xvfb checks exit codes, a crash, a message box answered by an injected key, the window's
# client area and colours as the X server shows them, an XTest key as a typed character, and a
# non-ASCII file name through the wide-character calls.
#
#   tools/windows/probe/run_probe.sh        (after tools/windows/build_deps.sh)
#
# Builds go to build-win-infra/ (native tools) and build-win-infra/probe-win64/.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
cd "$root"
native=build-win-infra
probe_build=$native/probe-win64

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [[ ! -x /usr/lib/wine/wine64 ]]; then
  echo "probe: MinGW-w64 or wine64 missing; run tools/windows/build_deps.sh first" >&2
  exit 1
fi
mkdir -p "$native"
if [[ ! -f $native/build.ninja ]]; then
  cmake -S . -B "$native" -G Ninja -DKILN_BUILD_TESTS=OFF >"$native/probe-configure.log" 2>&1 ||
    { tail -20 "$native/probe-configure.log" >&2; exit 1; }
fi
ninja -C "$native" -j2 grab_window press_key >"$native/probe-build.log" 2>&1 ||
  { tail -20 "$native/probe-build.log" >&2; exit 1; }
if [[ ! -f $probe_build/build.ninja ]]; then
  cmake -S tools/windows/probe -B "$probe_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" >>"$native/probe-configure.log" 2>&1 ||
    { tail -20 "$native/probe-configure.log" >&2; exit 1; }
fi
ninja -C "$probe_build" -j2 >>"$native/probe-build.log" 2>&1 || { tail -20 "$native/probe-build.log" >&2; exit 1; }
probe=$probe_build/wgl_probe.exe
grab=$native/tools/grab_window
press=$native/tools/press_key

source tools/windows/wine_env.sh
work=$(mktemp -d)
probe_pid=
cleanup() {
  [[ -n $probe_pid ]] && kill "$probe_pid" 2>/dev/null
  kiln_wine_private_end
  kiln_xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check <what> <expected> <actual>
  if [[ $2 == "$3" ]]; then
    echo "probe: ok   $1"
  else
    echo "probe: FAIL $1: expected \"$2\", got \"$3\""
    failures=$((failures + 1))
  fi
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Standard output of a Windows program is in text mode: lines end in CR LF.
value() { tr -d '\r' <"$2" | sed -n "s/^$1: //p" | head -1; }

fresh="reused"
kiln_wine_booted || fresh="fresh"
start=$(now_ms)
kiln_wine_boot
echo "probe: prefix $kiln_wine_prefix_dir ($fresh): $(($(now_ms) - start)) ms"
start=$(now_ms)
kiln_wine_private
echo "probe: private prefix $kiln_wine_prefix_dir: $(($(now_ms) - start)) ms"

run() {  # run <name> <expected code> <arguments...>: a run without a window
  local name=$1 expected=$2 status=0
  shift 2
  start=$(now_ms)
  kiln_wine 60 "$probe" "$@" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  check "$name: exit code ($(($(now_ms) - start)) ms)" "$expected" "$status"
}
run exit-7 7 --exit 7
run exit-7-again 7 --exit 7
run exit-minus-1 255 --exit -1
check "standard error of a GUI program reaches the caller" "standard error reaches the caller" "$(tr -d '\r' <"$work/exit-minus-1.err" | head -1)"
run crash-without-display 5 --crash

# The wineserver started without a display: end it, so that the desktop comes up on the Xvfb.
kiln_wine_stop
kiln_xvfb_start
run crash-on-display 5 --crash

# A message box is a top-level X window captioned with its title; Return answers it.
kiln_wine 60 "$probe" --message-box >"$work/box.out" 2>"$work/box.err" &
probe_pid=$!
"$press" "Windows exception" Return 20000 || echo "probe: FAIL press_key on the message box"
start=$(now_ms)
status=0
wait "$probe_pid" || status=$?
echo "probe: message box program ended $(($(now_ms) - start)) ms after the key"
probe_pid=
check "message box answered by Return: exit code 64 + IDOK" 65 "$status"

mkdir -p "$work/files"
start=$(now_ms)
kiln_wine 60 "$probe" --files "Z:${work//\//\\}\\files" >"$work/window.out" 2>"$work/window.err" &
probe_pid=$!
if "$grab" "Kiln WGL probe" "$work/window.png" 20000; then
  echo "probe: window grabbed $(($(now_ms) - start)) ms after the start"
  python3 tools/windows/probe/png_pixels.py "$work/window.png" 160,120 10,230 70,230 10,200 >"$work/pixels.txt"
  check "X window is the client area" "320x240" "$(value size "$work/pixels.txt")"
  check "cleared colour in the middle" "32 128 192" "$(value 160,120 "$work/pixels.txt")"
  check "scissored block at the bottom left" "255 64 0" "$(value 10,230 "$work/pixels.txt")"
  check "clear colour right of the block" "32 128 192" "$(value 70,230 "$work/pixels.txt")"
  check "clear colour above the block" "32 128 192" "$(value 10,200 "$work/pixels.txt")"
else
  echo "probe: FAIL no window"
  failures=$((failures + 1))
fi
# Let it present for a second first: it reports how many frames a swap interval of 1 allows.
for _ in $(seq 50); do
  [[ -n $(value frames_first_second "$work/window.out") ]] && break
  sleep 0.1
done
"$press" "Kiln WGL probe" q 5000 || echo "probe: FAIL press_key on the window"
start=$(now_ms)
status=0
wait "$probe_pid" || status=$?
echo "probe: window program ended $(($(now_ms) - start)) ms after the key"
probe_pid=
check "XTest key q typed as the character q: exit code" 113 "$status"
check "client size asked for" "320x240" "$(value client_size "$work/window.out")"
check "_wfopen + _wstat of a non-ASCII name" "5" "$(value wstat_size "$work/window.out")"
check "_wfindfirst lists the non-ASCII name" "1" "$(value wfindfirst_lists_name "$work/window.out")"
check "the name on the Linux side is UTF-8" "Prüfung Ä€中.txt" "$(ls "$work/files")"
for name in timer_step_ms timer_step_ms_period_1 sleep_1_x20_ms version pixel_format pfd_bits \
            gl_renderer gl_version wgl_swap_interval_ext wgl_get_swap_interval window_size frames_first_second; do
  echo "probe: $name = $(value "$name" "$work/window.out")"
done

# Replacing a destination that another program holds: what the commit layer will see. Reported,
# not checked: these are Wine's answers, which differ from Windows' in places.
files="Z:${work//\//\\}\\files"
replace() {  # replace <case>: moves files/new.txt over the destination and reports the errors
  kiln_wine 20 "$probe" --replace "$files\\new.txt" "$files\\$2" >"$work/replace.out" 2>/dev/null
  echo "probe: $1: MoveFileExW error $(value move_error "$work/replace.out"), ReplaceFileW error $(value replace_error "$work/replace.out"), destination now \"$(head -c 3 "$work/files/$2")\""
}
echo new >"$work/files/new.txt"; echo old >"$work/files/dest.txt"
kiln_wine 20 "$probe" --hold "$files\\dest.txt" 3000 >/dev/null 2>&1 &
probe_pid=$!
sleep 1
replace "held open without sharing by a Wine program" dest.txt
wait "$probe_pid" || true
cp "$probe" "$work/files/Zunto.exe"; echo new >"$work/files/new.txt"
kiln_wine 20 "$work/files/Zunto.exe" --sleep 3000 >/dev/null 2>&1 &
probe_pid=$!
sleep 1
replace "the image of a running program" Zunto.exe
wait "$probe_pid" || true
probe_pid=
echo new >"$work/files/new.txt"; echo old >"$work/files/dest.txt"
(exec 7<>"$work/files/dest.txt"; sleep 2) &
holder=$!
sleep 0.3
replace "held open by a Linux process" dest.txt
wait "$holder" || true
echo new >"$work/files/new.txt"; echo old >"$work/files/dest.txt"; chmod 444 "$work/files/dest.txt"
replace "read-only (mode 444)" dest.txt

if [[ $failures -ne 0 ]]; then
  echo "probe: $failures check(s) failed; output kept in $native/probe-failed"
  rm -rf "$native/probe-failed" && cp -r "$work" "$native/probe-failed"
  exit 1
fi
echo "probe: all checks passed"
