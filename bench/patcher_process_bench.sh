#!/usr/bin/env bash
# Whole-process figures of the patcher, each against a reference measured in the same run,
# interleaved, as medians of $RUNS runs (default 5):
#
#   start to first frame  the patcher (in a game folder, with its export; and in a wrong folder)
#                         against bench/raw_gl_screen (the same status screen with libjpeg, FreeType
#                         and GL called directly) and bench/minimal_glx (a 640x480 GLX window, one
#                         1024x512 texture, one quad per frame), all timed by the preloaded
#                         bench/frame_probe.cpp
#   idle CPU              CPU seconds per second between frames 60 and 180 of the status screen,
#                         against minimal_glx paced to 60 Hz with clock_nanosleep
#   peak memory           peak resident set at frame 180 (the patch run and the screen), against
#                         minimal_glx
#   export                the patcher without a display in a game folder (start-up, export, end),
#                         the same in a wrong folder (start-up alone), against cp + sync of the
#                         same 59 files into the same folders; once into the bare game folders and
#                         once over an installed game, where every destination exists
#
# Usage: bench/patcher_process_bench.sh        (builds into build-bench/; KILN_BUILD_DIR overrides)
# Without DISPLAY it runs on a private Xvfb.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KILN_BUILD_DIR:-$root/build-bench}
runs=${RUNS:-5}

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKILN_BUILD_BENCH=ON \
  -DKILN_BUILD_TESTS=OFF > "$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 2; }
ninja -C "$build" -j"${KILN_JOBS:-2}" ZuntoPatcher minimal_glx raw_gl_screen frame_probe > "$build/bench-build.log" 2>&1 ||
  { tail -n 40 "$build/bench-build.log"; exit 2; }
patcher=$build/app/ZuntoPatcher
minimal=$build/bench/minimal_glx
rawgl=$build/bench/raw_gl_screen
probe=$build/bench/libframe_probe.so

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [[ -z ${DISPLAY:-} ]]; then
  for n in $(seq 150 199); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [[ -S /tmp/.X11-unix/X$n ]] && break; sleep 0.05; done
    if [[ -S /tmp/.X11-unix/X$n ]]; then export DISPLAY=":$n"; break; fi
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  [[ -n $xvfb_pid ]] || { echo "cannot start Xvfb" >&2; exit 2; }
fi

# A fresh installed-game layout with the patcher beside it, on the disk before the timing starts,
# so that no flush of a timed run writes the copied patcher too.
new_game() {
  rm -rf "$1"
  mkdir -p "$1/Zunto_Data/XMLData/Spielzuege" "$1/Zunto_Data/XMLData/SpielzuegeGast"
  echo "installed launcher" > "$1/Vellmora.exe"
  cp "$patcher" "$1/ZuntoPatcher"
  sync -f "$1"
}
# The same with every destination there already, as in a game that was patched before.
installed_game() {
  new_game "$1"
  (cd "$reference" && tr '\n' '\0' <<< "$files" | xargs -0 cp --parents -t "$1")
  sync -f "$1"
}
copy_reference() {
  local start end
  start=$(now)
  (cd "$reference" && tr '\n' '\0' <<< "$files" | xargs -0 cp --parents -t "$1" && sync -f "$1")
  end=$(now)
  add "$2" "$(ms_between "$start" "$end")"
}

now() { echo "$EPOCHREALTIME"; }
ms_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }

declare -A samples
add() { samples[$1]+="$2 "; }

# One windowed run under the probe: first-frame time, idle CPU and peak memory.
probe_run() {
  local name=$1 dir=$2; shift 2
  local out=$work/probe.out start
  rm -f "$out"
  start=$(now)
  (cd "$dir" && FRAME_PROBE_OUT=$out LD_PRELOAD=$probe exec "$@" > /dev/null 2>&1) || true
  [[ -s $out ]] || { echo "$name: the probe saw no frame 180" >&2; exit 1; }
  read -r first cpu rss < "$out"
  add "$name.first" "$(awk -v s="$start" -v f="$first" 'BEGIN { printf "%.1f", f / 1e6 - s * 1000 }')"
  add "$name.cpu" "$cpu"
  add "$name.rss" "$((rss / 1024))"
}

# One run without a display: wall time of the whole process.
timed_run() {
  local name=$1 dir=$2; shift 2
  local start end
  start=$(now)
  (cd / && env -u DISPLAY "$@" > /dev/null 2>&1) || true
  end=$(now)
  add "$name" "$(ms_between "$start" "$end")"
}

game=$work/game
wrong=$work/wrong
reference=$work/reference
mkdir -p "$wrong"
cp "$patcher" "$wrong/ZuntoPatcher"
new_game "$reference"
(cd / && env -u DISPLAY "$reference/ZuntoPatcher" > /dev/null 2>&1)
rm "$reference/ZuntoPatcher"
files=$(cd "$reference" && find . -type f | sort)
[[ $(grep -c . <<< "$files") -eq 59 ]] || { echo "the reference run did not write 59 files" >&2; exit 1; }

echo "Measuring $runs interleaved runs of each (about $((runs * 14)) s)..." >&2
for ((i = 1; i <= runs; i++)); do
  probe_run minimal "$work" "$minimal"
  probe_run rawgl "$work" "$rawgl" "$build/payload/data/hg_grafik.jpg" "$build/payload/data/arial.ttf"
  new_game "$game"
  probe_run patcher "$game" "$game/ZuntoPatcher"
  probe_run wrongfolder "$wrong" "$wrong/ZuntoPatcher"
  # Each export and its reference take turns at going first, so that neither always follows the
  # windowed runs.
  for turn in $(( i % 2 )) $(( (i + 1) % 2 )); do
    if (( turn == 0 )); then
      new_game "$game"
      timed_run export "$game" "$game/ZuntoPatcher"
      timed_run startonly "$wrong" "$wrong/ZuntoPatcher"
      installed_game "$game"
      timed_run replace "$game" "$game/ZuntoPatcher"
    else
      new_game "$game"
      copy_reference "$game" cpsync
      installed_game "$game"
      copy_reference "$game" cpover
    fi
  done
done

median() { tr ' ' '\n' <<< "${samples[$1]}" | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

m_first=$(median minimal.first) p_first=$(median patcher.first) w_first=$(median wrongfolder.first)
r_first=$(median rawgl.first) r_rss=$(median rawgl.rss)
m_cpu=$(median minimal.cpu) p_cpu=$(median patcher.cpu)
m_rss=$(median minimal.rss) p_rss=$(median patcher.rss)
export_ms=$(median export) start_ms=$(median startonly) cp_ms=$(median cpsync)
replace_ms=$(median replace) cpover_ms=$(median cpover)

printf '\nMedians of %d interleaved runs (%s, %s)\n' "$runs" "$(uname -m)" "$(nproc) cores"
printf '%-44s %10s %10s %7s\n' "figure" "patcher" "reference" "ratio"
printf '%-44s %10s %10s %7s\n' "start to first frame, game folder (ms)" "$p_first" "$m_first" "$(ratio "$p_first" "$m_first")"
printf '%-44s %10s %10s %7s\n' "  against the raw-GL status screen" "$p_first" "$r_first" "$(ratio "$p_first" "$r_first")"
printf '%-44s %10s %10s %7s\n' "start to first frame, wrong folder (ms)" "$w_first" "$m_first" "$(ratio "$w_first" "$m_first")"
printf '%-44s %10s %10s %7s\n' "  against the raw-GL status screen" "$w_first" "$r_first" "$(ratio "$w_first" "$r_first")"
printf '%-44s %10s %10s %7s\n' "idle CPU on the status screen (s per s)" "$p_cpu" "$m_cpu" "$(ratio "$p_cpu" "$m_cpu")"
printf '%-44s %10s %10s %7s\n' "peak memory (MiB)" "$p_rss" "$m_rss" "+$((p_rss - m_rss))"
printf '%-44s %10s %10s %7s\n' "  against the raw-GL status screen" "$p_rss" "$r_rss" "+$((p_rss - r_rss))"
printf '%-44s %10s %10s %7s\n' "export run without display (ms)" "$export_ms" "$cp_ms" "$(ratio "$export_ms" "$cp_ms")"
printf '%-44s %10s\n' "  of which start-up and end, wrong folder (ms)" "$start_ms"
printf '%-44s %10s %10s %7s\n' "  export alone (ms)" "$(awk -v a="$export_ms" -v b="$start_ms" 'BEGIN { printf "%.1f", a - b }')" "$cp_ms" \
  "$(awk -v a="$export_ms" -v b="$start_ms" -v c="$cp_ms" 'BEGIN { printf "%.2f", (a - b) / c }')"
printf '%-44s %10s %10s %7s\n' "export run over an installed game (ms)" "$replace_ms" "$cpover_ms" "$(ratio "$replace_ms" "$cpover_ms")"
printf '%-44s %10s %10s %7s\n' "  export alone (ms)" "$(awk -v a="$replace_ms" -v b="$start_ms" 'BEGIN { printf "%.1f", a - b }')" "$cpover_ms" \
  "$(awk -v a="$replace_ms" -v b="$start_ms" -v c="$cpover_ms" 'BEGIN { printf "%.2f", (a - b) / c }')"
printf '\nGoals: first frame <= 1.5x, idle CPU <= 1.1x, peak memory <= reference + 20 MiB, export alone <= 1.15x.\n'
