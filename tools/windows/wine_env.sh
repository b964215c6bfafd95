# Wine harness for the Windows builds; source it from bash:
#
#   source tools/windows/wine_env.sh
#   kiln_wine_private                  # a private prefix for this session (optional, see below)
#   kiln_xvfb_start                    # a private Xvfb with Mesa's software GL; sets DISPLAY
#   kiln_wine 30 build-win64/foo.exe   # boots the prefix when needed, runs foo.exe for 30 s at most
#   kiln_xvfb_stop; kiln_wine_private_end
#
# 64-bit Wine (Debian's wine64 in /usr/lib/wine) with WINEPREFIX and HOME inside the cache folder
# ${KILN_WINDOWS_CACHE:-/var/cache/kiln-windows}/wine, so nothing reaches the user's home. The
# prefix is made once by `wineboot -i` (about 13 s) and then reused; KILN_WINE_PREFIX names another.
#
# Every process of a prefix talks to that prefix's one wineserver, and the first process that
# needs a desktop starts it on the display it has (or on none): a later program with another
# DISPLAY gets no windows (MessageBoxA returns -1). So a session that runs programs on its own
# Xvfb, or both with and without a display, takes a private prefix (kiln_wine_private, made in
# about 0.3 s) and ends its wineserver with kiln_wine_stop before it changes the display.
#
# Every Wine run is time-limited. No window manager runs: Wine then makes one X window per
# top-level window, exactly its client area, captioned with the window's title. Wine's opengl32
# drives the host's GLX, here Mesa's llvmpipe on Xvfb.

kiln_wine_cache=${KILN_WINDOWS_CACHE:-/var/cache/kiln-windows}
kiln_wine_bin=${KILN_WINE_BIN:-/usr/lib/wine}
kiln_wine_shared_prefix=${KILN_WINE_PREFIX:-$kiln_wine_cache/wine/prefix64}
kiln_wine_prefix_dir=$kiln_wine_shared_prefix
kiln_wine_home=${KILN_WINE_HOME:-$kiln_wine_cache/wine/home}
# Seconds the first boot of a prefix may take (about 15 s on 2 shared cores).
kiln_wine_boot_limit=${KILN_WINE_BOOT_LIMIT:-180}

# The environment of every Wine process: its own home and XDG folders, no debug channels, no
# Mono/Gecko install prompts, no desktop menu entries, and Mesa's rasteriser on the calling side.
kiln_wine_env() {
  env HOME="$kiln_wine_home" XDG_CONFIG_HOME="$kiln_wine_home/.config" XDG_DATA_HOME="$kiln_wine_home/.local/share" \
    XDG_CACHE_HOME="$kiln_wine_home/.cache" XDG_RUNTIME_DIR="$kiln_wine_home/.run" \
    WINEPREFIX="$kiln_wine_prefix_dir" WINEARCH=win64 WINEDEBUG="${KILN_WINEDEBUG:--all}" \
    WINESERVER="$kiln_wine_bin/wineserver64" WINELOADER="$kiln_wine_bin/wine64" \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe "$@"
}

kiln_wine_check() {
  if [[ ! -x $kiln_wine_bin/wine64 || ! -x $kiln_wine_bin/wineserver64 ]]; then
    echo "wine: no 64-bit Wine in $kiln_wine_bin; run tools/windows/build_deps.sh (as root) first" >&2
    return 1
  fi
}

# The Wine version a prefix was booted with, and the time of the wine.inf it was set up from: with
# another one the first program of every session would update the prefix, which takes as long as a
# boot (and would write through the hard links of private prefixes).
# The last number is the revision of the set-up below, so that a changed set-up makes a new prefix.
kiln_wine_version() {
  echo "$("$kiln_wine_bin/wine64" --version 2>/dev/null) $(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null) 2"
}

kiln_wine_booted() {
  [[ -f $kiln_wine_prefix_dir/.kiln-booted ]] && [[ $(head -1 "$kiln_wine_prefix_dir/.kiln-booted") == "$(kiln_wine_version)" ]]
}

# Makes the prefix unless it is complete. Locked, so parallel runs boot it once; a boot that failed
# or was cut off is thrown away and retried by the next call.
kiln_wine_boot() {
  kiln_wine_check || return 1
  kiln_wine_booted && return 0
  mkdir -p "$kiln_wine_home/.run" "$(dirname "$kiln_wine_prefix_dir")" || return 1
  chmod 700 "$kiln_wine_home/.run"
  (
    flock -w "$kiln_wine_boot_limit" 9 || { echo "wine: the prefix $kiln_wine_prefix_dir stayed locked" >&2; exit 1; }
    kiln_wine_booted && exit 0
    rm -rf "$kiln_wine_prefix_dir"
    local log=$kiln_wine_prefix_dir.boot.log start=$SECONDS
    # Without a display: the boot needs none, and it must not depend on one that goes away.
    unset DISPLAY
    # A fault that no exception filter handles ends the program with the fault code (0xC0000005:
    # exit code 5) when no debugger can start. winedbg --auto would wait on its crash dialog on a
    # display, and in about one run of 16 ends the program with exit code 0.
    if ! kiln_wine_env timeout -k 10 "$kiln_wine_boot_limit" "$kiln_wine_bin/wine64" wineboot -i >"$log" 2>&1 ||
       ! kiln_wine_env timeout -k 10 60 "$kiln_wine_bin/wine64" reg add \
           'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ \
           /d 'kiln-no-debugger.exe %ld %ld' /f >>"$log" 2>&1 ||
       ! kiln_wine_env timeout -k 10 "$kiln_wine_boot_limit" "$kiln_wine_bin/wineserver64" -w >>"$log" 2>&1 ||
       [[ ! -f $kiln_wine_prefix_dir/system.reg ]]; then
      kiln_wine_env timeout 20 "$kiln_wine_bin/wineserver64" -k >/dev/null 2>&1
      tail -20 "$log" >&2
      echo "wine: booting the prefix $kiln_wine_prefix_dir failed or took over $kiln_wine_boot_limit s (log: $log)" >&2
      rm -rf "$kiln_wine_prefix_dir"
      exit 1
    fi
    printf '%s\n%s\n' "$(kiln_wine_version)" "$((SECONDS - start))" >"$kiln_wine_prefix_dir/.kiln-booted"
  ) 9>"$kiln_wine_prefix_dir.lock"
}

# kiln_wine <seconds> <program> [arguments...]: runs a Windows program under Wine for at most that
# long and returns its exit code (the low 8 bits of the Windows one; 124 when the time ran out).
# The program is the wine64 process itself, which the time limit ends; in a private prefix the
# wineserver and its helper processes are ended too (in the shared one they may serve others).
# Standard input, output and error are the caller's; a Windows program's text-mode output ends its
# lines in CR LF.
kiln_wine() {
  local limit=$1
  shift
  kiln_wine_boot || return 125
  local status=0
  kiln_wine_env timeout -k 5 "$limit" "$kiln_wine_bin/wine64" "$@" || status=$?
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    echo "wine: $1 did not end within $limit s" >&2
    [[ $kiln_wine_prefix_dir == "$kiln_wine_shared_prefix" ]] || kiln_wine_stop
    status=124
  fi
  return $status
}

# Switches this shell to a private copy of the booted prefix in the cache's wine/runs/ folder:
# system32 (630 MB of DLLs, which Wine only writes when it updates a prefix) as hard links, the
# rest (58 MB, the registry among it, which wineserver rewrites in place) as copies. Copies left
# by killed sessions are removed after a day.
kiln_wine_private() {
  local shared=$kiln_wine_shared_prefix
  kiln_wine_prefix_dir=$shared
  kiln_wine_boot || return 1
  local runs=$kiln_wine_cache/wine/runs private
  mkdir -p "$runs"
  find "$runs" -mindepth 1 -maxdepth 1 -type d -mmin +1440 -exec rm -rf {} + 2>/dev/null
  private=$(mktemp -d "$runs/prefix-XXXXXX") || return 1
  if ! (cd "$shared" && tar -cf - --exclude=./drive_c/windows/system32 .) | (cd "$private" && tar -xf -) ||
     ! { cp -al "$shared/drive_c/windows/system32" "$private/drive_c/windows/" 2>/dev/null ||
         cp -a "$shared/drive_c/windows/system32" "$private/drive_c/windows/"; }; then
    echo "wine: could not copy the prefix $shared to $private" >&2
    rm -rf "$private"
    return 1
  fi
  kiln_wine_prefix_dir=$private
}

# Ends the private prefix's wineserver and removes the prefix; the shell goes back to the shared one.
kiln_wine_private_end() {
  [[ $kiln_wine_prefix_dir != "$kiln_wine_shared_prefix" ]] || return 0
  kiln_wine_stop
  rm -rf "$kiln_wine_prefix_dir"
  kiln_wine_prefix_dir=$kiln_wine_shared_prefix
}

# Makes the current (private) prefix's top-level windows unmanaged: the X window is then the whole
# window with the frame and caption Wine draws itself (client area at +3,+22 for WS_CAPTION and a
# thin border), and destroying it takes no time, where a managed window without a window manager
# waits 2 s for a withdrawal that never comes.
kiln_wine_unmanaged() {
  [[ $kiln_wine_prefix_dir != "$kiln_wine_shared_prefix" ]] || { echo "wine: kiln_wine_unmanaged needs kiln_wine_private" >&2; return 1; }
  kiln_wine 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null &&
    kiln_wine_stop
}

# Keeps the prefix's wineserver running between runs (each run then starts faster); kiln_wine_stop
# ends it.
kiln_wine_keep_server() {
  kiln_wine_boot || return 1
  kiln_wine_env timeout 20 "$kiln_wine_bin/wineserver64" -p
}

# Ends the prefix's wineserver and every Wine process of the prefix, and waits for them.
kiln_wine_stop() {
  [[ -d $kiln_wine_prefix_dir ]] || return 0
  kiln_wine_env timeout 20 "$kiln_wine_bin/wineserver64" -k >/dev/null 2>&1
  kiln_wine_env timeout 20 "$kiln_wine_bin/wineserver64" -w >/dev/null 2>&1
  return 0
}

# A private Xvfb; sets DISPLAY and kiln_xvfb_pid. Xvfb picks a free display number itself and
# writes it to -displayfd only once it accepts clients (its socket appears before that). Without
# -noreset it resets when its last client leaves and refuses the next one for a moment.
kiln_xvfb_start() {
  local ready limit
  ready=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset +extension GLX 3>"$ready" \
    >"${TMPDIR:-/tmp}/kiln-xvfb-$$.log" 2>&1 &
  kiln_xvfb_pid=$!
  for limit in $(seq 200); do
    [[ -s $ready ]] && break
    kill -0 "$kiln_xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  local number
  number=$(tr -dc 0-9 <"$ready")
  rm -f "$ready"
  [[ -n $number ]] || { echo "wine: Xvfb did not start (log: ${TMPDIR:-/tmp}/kiln-xvfb-$$.log)" >&2; return 1; }
  export DISPLAY=:$number
}

kiln_xvfb_stop() {
  [[ -n ${kiln_xvfb_pid:-} ]] || return 0
  kill "$kiln_xvfb_pid" 2>/dev/null
  wait "$kiln_xvfb_pid" 2>/dev/null
  kiln_xvfb_pid=
  unset DISPLAY
  return 0
}
