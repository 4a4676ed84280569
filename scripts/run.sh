#!/usr/bin/env bash
# Builds Tarnwell (Release) and starts it from the repository's root, where it keeps
# its settings.txt. Without a converter on PATH, the stand-in converter is used.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
# A machine without a desktop gets a virtual X display, so that the wizard starts.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: starting the wizard under a virtual X display (xvfb-run)."
    scripts/setup.sh virtual-display
    exec xvfb-run -a "$0" "$@"
fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF \
    -DTARNWELL_BUILD_BENCHMARK=OFF > /dev/null
cmake --build build/release

if ! command -v Movrak > /dev/null; then
    echo "No Movrak on PATH: using the stand-in converter in build/release/converter."
    export PATH="$PWD/build/release/converter:$PATH"
fi
exec build/release/src/tarnwell "$@"
