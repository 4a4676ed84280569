#!/usr/bin/env bash
# Installs the Windows installer silently into a fresh Wine prefix, checks what it
# put there (the program answers --version, the Start menu entry, "Open with" for .dpj
# files), uninstalls it and checks that nothing of it is left.
#
#   scripts/check-windows-install.sh <installer.exe>
set -euo pipefail
cd "$(dirname "$0")/.."
installer=$(realpath "$1")
export WINEPREFIX=$PWD/build/wine-install WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
rm -rf "$WINEPREFIX"
"$wine" wineboot --init > /dev/null 2>&1
fail() { echo "Windows install check: $*" >&2; exit 1; }
target='C:\Tarnwell'
folder=$WINEPREFIX/drive_c/Tarnwell
registry() { "$wine" reg query "$1" 2>/dev/null | tr -d '\r'; }
association='HKLM\Software\Classes\Tarnwell.dpj\shell\open\command'

"$wine" "$installer" /S "/D=$target"
[ -f "$folder/bin/tarnwell.exe" ] || fail "no bin/tarnwell.exe after the install"
version=$("$wine" "$folder/bin/tarnwell.exe" --version | tr -d '\r')
[ "$version" = "tarnwell $(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)" ] \
    || fail "--version said '$version'"
registry "$association" | grep -qF '"C:\Tarnwell\bin\tarnwell.exe" "%1"' \
    || fail "no \"Open with\" command for .dpj files"
find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Tarnwell.lnk' | grep -q . \
    || fail "no Start menu entry"
"$wine" "$folder/Uninstall.exe" /S "_?=$target"
rm -f "$folder/Uninstall.exe" # kept by _?=, so that the uninstall could be waited for
rmdir "$folder" 2> /dev/null || fail "left behind: $(find "$folder" | head -n 5)"
! registry 'HKLM\Software\Classes\Tarnwell.dpj' | grep -q . || fail "the .dpj association is left"
! find "$WINEPREFIX/drive_c" -path '*Start Menu*' -iname '*Tarnwell*' | grep -q . \
    || fail "the Start menu entry is left"
echo "Windows install check: installed, started and uninstalled cleanly."
