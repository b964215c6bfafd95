#!/usr/bin/env bash
# Builds the patcher and runs it as a user would: copied into a demo game folder (build/demo-game,
# with Vellmora.exe, the two play-set folders and older stand-in files) and started from another
# working directory. Then it runs it once more in a folder without the game (build/demo-wrong-folder).
#
# On your display each status window stays until you press a key, click or close it. Without a
# display both runs happen on a private virtual X server: the status screens are saved as
# build/demo-screen.png and build/demo-wrong-folder.png, and a key is pressed for you.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KILN_BUILD_DIR:-$root/build}
caption="Zunto Patcher v1.3"

"$root/tools/install_deps.sh"

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 2; }
ninja -C "$build" -j"${KILN_JOBS:-2}" ZuntoPatcher grab_window press_key > "$build/demo-build.log" 2>&1 ||
  { tail -n 40 "$build/demo-build.log"; exit 2; }
patcher=$build/app/ZuntoPatcher
grab=$build/tools/grab_window
press=$build/tools/press_key

xvfb_pid=
stamp=$(mktemp)
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -f "$stamp"
}
trap cleanup EXIT

# An installed game as the patch finds it: the executables, notes and a few play-set files of an
# older release, all dated long ago.
game=$build/demo-game
rm -rf "$game"
mkdir -p "$game/Zunto_Data/XMLData/Spielzuege" "$game/Zunto_Data/XMLData/SpielzuegeGast"
echo "stand-in for the installed launcher" > "$game/Vellmora.exe"
echo "stand-in for the installed game, release 1.2" > "$game/Zunto.exe"
echo "release notes of 1.1" > "$game/PatchLog1.txt"
echo "Zunto.exe -dx" > "$game/Vellmora_DirectX.bat"
for play in Daene.xml Kreuzen.xml Schwede.xml; do
  echo "<play name=\"${play%.xml}\" release=\"1.2\"/>" > "$game/Zunto_Data/XMLData/Spielzuege/$play"
  echo "<play name=\"${play%.xml}\" release=\"1.2\" guest=\"1\"/>" > "$game/Zunto_Data/XMLData/SpielzuegeGast/$play"
done
find "$game" -exec touch -d '2020-01-01' {} +
elsewhere=$build/demo-wrong-folder
rm -rf "$elsewhere"
mkdir -p "$elsewhere"
cp "$patcher" "$game/ZuntoPatcher"
cp "$patcher" "$elsewhere/ZuntoPatcher"

if [[ -z ${DISPLAY:-} ]]; then
  for n in $(seq 90 140); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp > "$build/demo-xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [[ -S /tmp/.X11-unix/X$n ]] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    if [[ -S /tmp/.X11-unix/X$n ]]; then
      export DISPLAY=":$n"
      echo "No DISPLAY: the demo runs on a virtual X server ($DISPLAY)."
      break
    fi
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  [[ -n $xvfb_pid ]] || { echo "Cannot start Xvfb (see $build/demo-xvfb.log)." >&2; exit 2; }
fi

# Runs the patcher in folder $1 from another working directory. On the virtual server it saves the
# status screen as $2 and presses a key; on a real display it waits for you.
run_patcher() {
  local folder=$1 screenshot=$2 status=0
  if [[ -n $xvfb_pid ]]; then
    (cd / && exec "$folder/ZuntoPatcher") &
    local pid=$!
    if "$grab" "$caption" "$screenshot" 15000; then
      "$press" "$caption" space 5000 || true
    else
      echo "The status window did not appear." >&2
    fi
    # A screen that did not end on the key is ended here.
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill "$pid" 2>/dev/null || true
    wait "$pid" || status=$?
  else
    echo "When the status window shows, press a key, click into it or close it to end the patcher."
    (cd / && exec "$folder/ZuntoPatcher") || status=$?
  fi
  return "$status"
}

touch "$stamp"
before=$(cd "$game" && find . -type f | sort)
echo "Running $game/ZuntoPatcher, started from /"
status=0
run_patcher "$game" "$build/demo-screen.png" || status=$?
echo "Exit code: $status"
written=$(cd "$game" && find . -type f -newer "$stamp" ! -name ZuntoPatcher | sort)
echo "Files written into $game: $(printf '%s' "$written" | grep -c . || true)"
# Files of the game folder one by one; the play sets as a count per folder.
declare -A set_new set_replaced
while IFS= read -r file; do
  [[ -z $file ]] && continue
  kind=new
  grep -qxF "$file" <<< "$before" && kind=replaced
  folder=$(dirname "${file#./}")
  if [[ $folder == . ]]; then
    printf '  %-9s %s\n' "$kind" "${file#./}"
  elif [[ $kind == new ]]; then
    set_new[$folder]=$(( ${set_new[$folder]:-0} + 1 ))
  else
    set_replaced[$folder]=$(( ${set_replaced[$folder]:-0} + 1 ))
  fi
done <<< "$written"
for folder in $(printf '%s\n' "${!set_new[@]}" "${!set_replaced[@]}" | sort -u); do
  echo "  $folder/: ${set_replaced[$folder]:-0} replaced, ${set_new[$folder]:-0} new"
done

echo
echo "Running $elsewhere/ZuntoPatcher, a folder without the game, started from /"
wrong_status=0
run_patcher "$elsewhere" "$build/demo-wrong-folder.png" || wrong_status=$?
echo "Exit code: $wrong_status; files written: $(find "$elsewhere" -type f -newer "$stamp" ! -name ZuntoPatcher | wc -l)"

echo
echo "Demo game folder: $game"
if [[ -n $xvfb_pid ]]; then
  echo "Status screen after the patch: $build/demo-screen.png"
  echo "Status screen in the wrong folder: $build/demo-wrong-folder.png"
fi
exit "$status"
