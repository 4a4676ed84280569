#!/usr/bin/env bash
# Installs the Windows installer silently into a fresh Wine prefix, checks what it
# put there (the program answers --version, shows its window on a display and ends on
# Escape, the Start menu entry, "Open with" for .dpj files), uninstalls it and checks
# that nothing of it is left.
#
#   scripts/check-windows-install.sh <installer.exe>
set -euo pipefail
cd "$(dirname "$0")/.."
installer=$(realpath "$1")
export WINEPREFIX=$PWD/build/wine-install WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
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
# The installed program on a display of its own (Xvfb, through Wine's X11 driver): its
# window shows at the size its pages need, and Escape ends it. Wine's processes for the
# prefix started without a display (wineboot), and would keep it from windows: they go
# first.
"$wineserver" -k || true
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1024x768x24 -nolisten tcp 2> /dev/null &
xvfb=$!
trap 'kill "$xvfb" 2> /dev/null || true; "$wineserver" -k 2> /dev/null || true' EXIT
read -r -t 30 -u "$displayfd" display || fail "Xvfb did not start"
export DISPLAY=:$display
"$wine" "$folder/bin/tarnwell.exe" &
program=$!
window=$(timeout 120 xdotool search --sync --name '^Tarnwell ' | head -n 1) \
    || fail "no window shown within two minutes"
size=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
[ "${size%x*}" -ge 543 ] && [ "${size#*x}" -ge 486 ] || fail "the window is $size, not at least 543x486"
xdotool key --window "$window" Escape 2> /dev/null
timeout 60 tail --pid="$program" -f /dev/null || fail "Escape did not end the program"
kill "$xvfb"
unset DISPLAY
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
echo "Windows install check: installed, shown ($size), ended and uninstalled cleanly."
