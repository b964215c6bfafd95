#!/usr/bin/env bash
# check_release.sh <ZuntoPatcher.exe>: the static checks of the 32-bit release. It must be a PE32
# file for x86 with the windowed subsystem (2) and a 4 MiB stack reserve, and import nothing but
# DLLs that every Windows has: libgcc, libstdc++, winpthread and the image libraries are linked in.
set -euo pipefail

exe=${1:?usage: $0 <ZuntoPatcher.exe>}
headers=$(i686-w64-mingw32-objdump -p "$exe")

failures=0
check() {  # check <what> <expected> <actual>
  if [[ $2 == "$3" ]]; then
    echo "release: ok   $1"
  else
    echo "release: FAIL $1: expected \"$2\", got \"$3\""
    failures=$((failures + 1))
  fi
}
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

check "PE32 for x86" "pei-i386" "$(sed -n 's/.*file format //p' <<<"$headers" | head -1)"
check "32-bit optional header" "010b" "$(field Magic)"
check "windowed subsystem" "00000002" "$(field Subsystem)"
check "4 MiB stack reserve" "00400000" "$(field SizeOfStackReserve)"
# A link time in the header would make every build of one commit differ. It is the COFF header's
# third field, 8 bytes into the PE header, whose offset the DOS header keeps at 0x3c.
word_at() { od -An -tx4 -j "$1" -N4 "$exe" | tr -d ' '; }
check "no link time stamp" "00000000" "$(word_at $((0x$(word_at 60) + 8)))"

# Windows' own DLLs (any case); "api-ms-win-*" names are forwarders of the same system libraries.
allowed='^(kernel32|user32|gdi32|opengl32|winmm|shell32|comdlg32|advapi32|ole32|msvcrt|ucrtbase|ntdll|shlwapi|comctl32|api-ms-win-[a-z0-9-]+)\.dll$'
dlls=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers" | sort -u)
[[ -n $dlls ]] || { echo "release: FAIL no import table found"; failures=$((failures + 1)); }
foreign=$(grep -Ev "$allowed" <<<"$dlls" || true)
check "imports only system DLLs ($(tr '\n' ' ' <<<"$dlls" | sed 's/ $//'))" "" "$foreign"

exit $((failures > 0))
