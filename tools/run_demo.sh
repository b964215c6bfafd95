#!/usr/bin/env bash
# Builds the patcher, puts it into a demo game folder (build/demo-game) and runs it there, then
# lists what it wrote. Without a display the run happens on a private virtual X server.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KILN_BUILD_DIR:-$root/build}

"$root/tools/install_deps.sh"

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 2; }
if ! ninja -C "$build" -t targets all | grep -q '^ZuntoPatcher:'; then
  ninja -C "$build" -j"${KILN_JOBS:-2}"
  echo "The runtime is built, but the patch program (target ZuntoPatcher) does not exist yet: nothing to run."
  exit 0
fi
ninja -C "$build" -j"${KILN_JOBS:-2}" ZuntoPatcher

game=$build/demo-game
rm -rf "$game"
mkdir -p "$game/Zunto_Data/XMLData/Spielzuege" "$game/Zunto_Data/XMLData/SpielzuegeGast"
echo "demo stand-in for the game executable" > "$game/Vellmora.exe"
cp "$build/ZuntoPatcher" "$game/ZuntoPatcher" 2>/dev/null || cp "$build/app/ZuntoPatcher" "$game/ZuntoPatcher"
touch -d '2000-01-01' "$game/Vellmora.exe"
stamp=$(mktemp)
trap 'rm -f "$stamp"' EXIT

echo "Running $game/ZuntoPatcher (if it shows its status window, press a key or close it to end it)"
status=0
# Started from another folder on purpose: the patcher works in its own folder wherever it starts.
if [[ -n ${DISPLAY:-} ]]; then
  (cd / && "$game/ZuntoPatcher") || status=$?
else
  echo "No DISPLAY: running on a virtual X server; a status window still open after 20 seconds is closed."
  (cd / && timeout 20 xvfb-run -a -s "-screen 0 1280x1024x24" "$game/ZuntoPatcher") || status=$?
  [[ $status -eq 124 ]] && { echo "(status screen stopped after 20 seconds)"; status=0; }
fi

written=$(find "$game" -type f -newer "$stamp" ! -name ZuntoPatcher | sort)
count=$(printf '%s' "$written" | grep -c . || true)
echo "Exit code: $status"
echo "Files written into $game: $count"
printf '%s\n' "$written" | sed "s|^$game/|  |" | head -n 80
exit "$status"
