#!/usr/bin/env bash
# Builds Tarnwell (Release) and starts it from the repository's root, where it keeps
# its settings.txt. Without a converter on PATH, the stand-in converter is used.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF \
    -DTARNWELL_BUILD_BENCHMARK=OFF > /dev/null
cmake --build build/release

if ! command -v Movrak > /dev/null; then
    echo "No Movrak on PATH: using the stand-in converter in build/release/converter."
    export PATH="$PWD/build/release/converter:$PATH"
fi
exec build/release/src/tarnwell "$@"
