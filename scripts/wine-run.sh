#!/usr/bin/env bash
# Runs a program built for Windows under Wine, as the Windows build's tests are run
# (CMAKE_CROSSCOMPILING_EMULATOR): offscreen, in the Wine prefix WINEPREFIX, with the
# Qt for Windows in TARNWELL_QT_WINDOWS and the compiler's runtime DLLs on its PATH.
#
#   scripts/wine-run.sh program.exe [arguments...]
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix to run in}"
: "${TARNWELL_QT_WINDOWS:?set TARNWELL_QT_WINDOWS to the Qt for Windows prefix}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)

# The host's folders as Windows programs see them: drive Z: is the root.
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
winpthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
export WINEPATH="$(windows_path "$TARNWELL_QT_WINDOWS/bin");$(windows_path "$runtime");$(windows_path "$winpthread")"
# Wine hands no variable whose name begins with QT_ to a Windows program; WINEQT_...
# arrives as QT_.... The offscreen platform on Windows draws with FreeType and finds
# its fonts in QT_QPA_FONTDIR.
export WINEQT_QPA_PLATFORM=offscreen
export WINEQT_QPA_FONTDIR="$(windows_path /usr/share/fonts/truetype/liberation2)"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init > /dev/null 2>&1
fi
exec "$wine" "$@"
