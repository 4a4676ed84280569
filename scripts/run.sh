#!/usr/bin/env bash
# Builds Tarnwell (Release) and starts it from the repository's root, where it keeps
# its settings.txt. Without a converter on PATH, the stand-in converter is used.
# Without a display, where a wizard would stand unseen and keep the terminal waiting,
# it runs the demonstration conversion offscreen instead and writes a screenshot of
# each page to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF \
    -DTARNWELL_BUILD_BENCHMARK=OFF > /dev/null
cmake --build build/release

case "${QT_QPA_PLATFORM:-}" in
    offscreen* | minimal*) display="" ;;
    "") display="${DISPLAY:-}${WAYLAND_DISPLAY:-}" ;;
    *) display="$QT_QPA_PLATFORM" ;;
esac
if [ -z "$display" ]; then
    pictures=build/screenshots
    echo "No display: neither DISPLAY nor WAYLAND_DISPLAY is set, so the wizard cannot be shown."
    echo "Instead, the demonstration conversion runs offscreen with the stand-in converter"
    echo "on the sample in docs/sample, and a screenshot of each page is written to $pictures/:"
    rm -rf "$pictures"
    build/release/tools/screenshots/tarnwell_screenshots docs/sample "$pictures"
    echo "Done. Open the pictures with an image viewer; on a desktop, scripts/run.sh starts the wizard."
    exit 0
fi

if ! command -v Movrak > /dev/null; then
    echo "No Movrak on PATH: using the stand-in converter in build/release/converter."
    export PATH="$PWD/build/release/converter:$PATH"
fi
exec build/release/src/tarnwell "$@"
