#!/bin/bash
# Init (PID 1) of the PC that tools/windows/emulated_pc.sh boots: runs the release
# /kiln/ZuntoPatcher.exe under 32-bit Wine in three fresh game folders and powers off. Whatever
# happens it ends with sync and a power-off, and every wait has a time limit.
#
# It writes to /kiln/results: guest.log (each step, at seconds since boot), and for each scenario
# (done, wrong, readonly) <name>.xwd (the window once drawn), <name>.stderr (the patcher's),
# <name>.rc (Wine's exit code, or "timeout"), <name>/ (the game folder afterwards, cp -a); also
# done.after-shift-running (yes/no); and finished, last of all.
# A prefix it had to boot is copied, as booted, to /kiln/prefix-booted for the host to keep.
set -euo pipefail
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
out=/kiln/results
# Bump when the prefix set-up below changes, so that a saved prefix is booted anew.
prefix_revision=1

power_off() {
  set +e
  kill -9 -1 2>/dev/null  # every process but this one
  sleep 1
  sync
  mount -o remount,ro /
  sync
  echo o >/proc/sysrq-trigger
  sleep 30
  # Still here: ending PID 1 panics the kernel, which (panic=1, -no-reboot) ends qemu.
}
trap power_off EXIT

mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mountpoint -q /dev/pts || mount -t devpts devpts /dev/pts
mountpoint -q /dev/shm || mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs -o mode=1777 tmpfs /tmp
rm -rf "$out" /kiln/prefix-booted
mkdir -p "$out"

now() { cut -d' ' -f1 /proc/uptime; }
log() {
  echo "$(now) $*" >>"$out/guest.log"
  echo "guest: $(now) $*"
}
# wait_until <seconds> <command...>: succeeds once the command does, fails when the time is up.
wait_until() {
  local end=$(($(cut -d. -f1 /proc/uptime) + $1))
  shift
  until "$@"; do
    (($(cut -d. -f1 /proc/uptime) < end)) || return 1
    sleep 0.5
  done
}
log "init started (kernel $(uname -r); CPU with AVX: $(grep -qw avx /proc/cpuinfo && echo yes || echo no);" \
  "Mesa environment: $(env | grep -E '^(LP|GALLIUM|MESA)_' | tr '\n' ' ' || true))"

export DISPLAY=:0 WINEPREFIX=/opt/kiln/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
  LIBGL_ALWAYS_SOFTWARE=1 XDG_RUNTIME_DIR=/tmp/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
Xvfb :0 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
if ! wait_until 60 test -S /tmp/.X11-unix/X0; then
  cp /tmp/xvfb.log "$out/"
  log "Xvfb did not start within 60 s (xvfb.log)"
  exit 1
fi
log "Xvfb :0 is up"

# --- The Wine prefix -----------------------------------------------------------------------------
if [[ $(head -1 "$WINEPREFIX/.kiln-booted" 2>/dev/null) != "$prefix_revision" ]]; then
  log "booting the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  # A fault that no handler takes then ends the patcher with the fault code, where the default
  # debugger would wait on its crash dialog.
  if ! timeout -k 10 400 wine wineboot -i >/tmp/wineboot.log 2>&1 ||
     ! timeout -k 10 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
         /v Debugger /t REG_SZ /d 'kiln-no-debugger.exe %ld %ld' /f >>/tmp/wineboot.log 2>&1 ||
     ! timeout -k 10 120 wineserver -w >>/tmp/wineboot.log 2>&1 ||
     [[ ! -f $WINEPREFIX/system.reg ]]; then
    cp /tmp/wineboot.log "$out/"
    log "booting the prefix failed or took too long (wineboot.log)"
    exit 1
  fi
  echo "$prefix_revision" >"$WINEPREFIX/.kiln-booted"
  log "prefix booted; copying it for the host"
  cp -a "$WINEPREFIX" /kiln/prefix-booted
  log "prefix copied to /kiln/prefix-booted"
else
  log "the prefix is booted already"
fi

# --- The scenarios -------------------------------------------------------------------------------
mkdir -p /tmp/elsewhere /tmp/games

# make_game <dir> <with Vellmora.exe: yes|no>: a game folder as the host's tests make one, with the
# release copied in.
make_game() {
  mkdir -p "$1/Zunto_Data/XMLData/Spielzuege" "$1/Zunto_Data/XMLData/SpielzuegeGast"
  [[ $2 == no ]] || printf 'installed game executable' >"$1/Vellmora.exe"
  printf 'left alone' >"$1/Notizen.txt"
  cp /kiln/ZuntoPatcher.exe "$1/"
}

running() { kill -0 "$pid" 2>/dev/null; }
ended() { ! running; }
find_window() {
  window=$(xdotool search --onlyvisible --name '^Zunto Patcher v1\.3$' 2>/dev/null | head -1 || true)
  [[ -n $window ]] || ! running
}
# The pixels of an xwd capture are not all zero (the first frames are black). Its header is
# big-endian: header_size at byte 0, ncolors at byte 76, then ncolors 12-byte colour entries.
drawn() {
  local header ncolors
  header=$(od -An -tu4 --endian=big -N4 "$1")
  ncolors=$(od -An -tu4 --endian=big -j76 -N4 "$1")
  [[ -n $(tail -c +$((header + ncolors * 12 + 1)) "$1" | tr -d '\000' | head -c1) ]]
}
# Captures the window into <name>.xwd once it is drawn and two captures 1 s apart agree (30 s at
# most; then the last capture stays).
capture() {
  local file=$out/$name.xwd previous=/tmp/$name.previous.xwd
  for _ in $(seq 30); do
    timeout 20 xwd -silent -id "$window" -out "$file" || return 1
    if drawn "$file" && [[ -f $previous ]] && cmp -s "$previous" "$file"; then
      return 0
    fi
    cp "$file" "$previous"
    sleep 1
  done
  log "$name: the window did not settle within 30 s; kept the last capture"
}
focus() { timeout 10 xdotool windowfocus --sync "$window" || timeout 10 xdotool windowfocus "$window"; }

# run_scenario <name> <Vellmora.exe: yes|no> <ending input: a | click | Return>
run_scenario() {
  local game=/tmp/games/$1 rc=0 input
  name=$1 window=
  make_game "$game" "$2"
  [[ $name != readonly ]] || { printf 'old' >"$game/Zunto.exe"; chmod 444 "$game/Zunto.exe"; }
  log "$name: starting the patcher from /tmp/elsewhere"
  (cd /tmp/elsewhere && exec wine "$game/ZuntoPatcher.exe" >/tmp/"$name".stdout 2>"$out/$name.stderr") &
  pid=$!
  if ! wait_until 120 find_window || [[ -z $window ]]; then
    log "$name: no window 'Zunto Patcher v1.3' within 120 s (patcher running: $(running && echo yes || echo no))"
  else
    log "$name: window $window is up"
    if capture; then log "$name: captured $name.xwd"; else log "$name: capturing the window failed"; fi
    if [[ $name == "done" ]]; then
      focus || log "$name: focusing the window failed"
      timeout 10 xdotool key Shift_L || log "$name: xdotool key Shift_L failed"
      sleep 1
      if running; then echo yes; else echo no; fi >"$out/done.after-shift-running"
      log "$name: sent Shift_L; running 1 s later: $(cat "$out/done.after-shift-running")"
    fi
    case $3 in
      click) input=(mousemove --window "$window" 100 100 click 1) ;;
      *) focus || log "$name: focusing the window failed"; input=(key "$3") ;;
    esac
    if timeout 10 xdotool "${input[@]}"; then log "$name: sent $3"; else log "$name: sending $3 failed"; fi
  fi
  if wait_until 60 ended; then
    wait "$pid" || rc=$?
    log "$name: the patcher ended with $rc"
  else
    rc=timeout
    log "$name: the patcher did not end within 60 s; killing it"
    kill -9 "$pid" 2>/dev/null || true
    timeout 20 wineserver -k || true
  fi
  echo "$rc" >"$out/$name.rc"
  timeout 30 wineserver -w || timeout 20 wineserver -k || true
  cp -a "$game" "$out/$name"
  log "$name: copied the game folder"
}

run_scenario "done" yes a
run_scenario wrong no click
run_scenario readonly yes Return
log "all scenarios ran"
sync
now >"$out/finished"
